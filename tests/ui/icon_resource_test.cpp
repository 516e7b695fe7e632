// The program icon: group 102 in RT_GROUP_ICON form naming two RT_ICON
// images, each a 16-colour DIB with doubled height and XOR and AND masks.
#include <cstring>

#include "platform/wingdi.h"
#include "ui_test_support.h"

namespace {

// What the icons show, top row first: '.' transparent, hex digit = colour.
const char* const kPicture32[] = {
    "................................", ".............222222.............", ".............222222.............",
    ".............222222.............", ".............222222.............", ".............222222.............",
    ".............222222.............", ".............222222.............", ".............222222.............",
    "........AAAAAAAAAAAAAAAA........", ".........AAAAAAAAAAAAAA.........", "..........AAAAAAAAAAAA..........",
    "...........AAAAAAAAAA...........", "............AAAAAAAA............", ".............AAAAAA.............",
    "..............AAAA..............", "...............AA...............", "................................",
    ".......888888888888888888.......", ".......800000000000000008.......", "....77780FF00000000000008777....",
    ".......80FF00000000000008.......", "....777800000000000000008777....", ".......800000000000000008.......",
    "....777800000000000000008777....", ".......800000000000000008.......", "....777800000000000000008777....",
    ".......800000000000000008.......", ".......800000000000000008.......", ".......888888888888888888.......",
    "................................", "................................",
};
const char* const kPicture16[] = {
    "......2222......", "......2222......", "......2222......", "......2222......",
    "...AAAAAAAAAA...", "....AAAAAAAA....", ".....AAAAAA.....", "......AAAA......",
    ".......AA.......", "...8888888888...", "...8000000008...", ".7780F000000877.",
    "...8000000008...", ".77800000000877.", "...8000000008...", "...8888888888...",
};

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

const BYTE* resource_data(LPCWSTR type, int id, DWORD* size) {
    HMODULE program = ui_test::program_instance();
    HRSRC resource = FindResourceW(program, MAKEINTRESOURCEW(id), type);
    if (resource == nullptr) return nullptr;
    *size = SizeofResource(program, resource);
    return static_cast<const BYTE*>(LoadResource(program, resource));
}

// Reads the picture back out of the DIB: '.' where the AND mask is set.
std::vector<std::string> decode(const BYTE* image, int size) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, image, sizeof header);
    const BYTE* xor_mask = image + header.biSize + 16 * sizeof(RGBQUAD);
    int xor_stride = ((size * 4 + 31) / 32) * 4;
    int and_stride = ((size + 31) / 32) * 4;
    const BYTE* and_mask = xor_mask + xor_stride * size;
    std::vector<std::string> rows(size, std::string(size, '?'));
    for (int stored = 0; stored < size; ++stored) {
        int row = size - 1 - stored;  // bottom-up
        for (int x = 0; x < size; ++x) {
            BYTE pair = xor_mask[stored * xor_stride + x / 2];
            int colour = (x % 2 == 0) ? pair >> 4 : pair & 0x0F;
            bool transparent = (and_mask[stored * and_stride + x / 8] >> (7 - x % 8)) & 1;
            if (transparent)
                rows[row][x] = colour == 0 ? '.' : '!';  // transparent must be black
            else
                rows[row][x] = "0123456789ABCDEF"[colour];
        }
    }
    return rows;
}

TEST(ProgramIcon, GroupNamesBothImages) {
    DWORD size = 0;
    const BYTE* group = resource_data(RT_GROUP_ICON, 102, &size);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(size, 6u + 2 * sizeof(GroupEntry));
    WORD head[3];
    std::memcpy(head, group, sizeof head);
    EXPECT_EQ(head[0], 0);  // reserved
    EXPECT_EQ(head[1], 1);  // icons
    EXPECT_EQ(head[2], 2);

    struct Expected {
        BYTE edge;
        WORD id;
    } expected[] = {{32, 1}, {16, 2}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        GroupEntry entry;
        std::memcpy(&entry, group + 6 + i * sizeof(GroupEntry), sizeof entry);
        EXPECT_EQ(entry.width, expected[i].edge);
        EXPECT_EQ(entry.height, expected[i].edge);
        EXPECT_EQ(entry.colours, 16);
        EXPECT_EQ(entry.reserved, 0);
        EXPECT_EQ(entry.planes, 1);
        EXPECT_EQ(entry.bits, 4);
        EXPECT_EQ(entry.id, expected[i].id);
        DWORD image_size = 0;
        ASSERT_NE(resource_data(RT_ICON, entry.id, &image_size), nullptr);
        EXPECT_EQ(entry.bytes, image_size);
    }
}

TEST(ProgramIcon, ImagesAreSixteenColourDibsWithBothMasks) {
    struct Case {
        int id;
        int edge;
        DWORD size;  // header + palette + XOR + AND
    } cases[] = {{1, 32, 40 + 64 + 32 * 16 + 32 * 4}, {2, 16, 40 + 64 + 16 * 8 + 16 * 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        DWORD size = 0;
        const BYTE* image = resource_data(RT_ICON, c.id, &size);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(size, c.size);
        BITMAPINFOHEADER header;
        std::memcpy(&header, image, sizeof header);
        EXPECT_EQ(header.biSize, 40u);
        EXPECT_EQ(header.biWidth, c.edge);
        EXPECT_EQ(header.biHeight, 2 * c.edge) << "XOR and AND masks stacked";
        EXPECT_EQ(header.biPlanes, 1);
        EXPECT_EQ(header.biBitCount, 4);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_EQ(header.biSizeImage, c.size - 40 - 64);
        RGBQUAD palette[16];
        std::memcpy(palette, image + 40, sizeof palette);
        EXPECT_EQ(palette[0].rgbRed + palette[0].rgbGreen + palette[0].rgbBlue, 0) << "index 0 is black";
        EXPECT_EQ(palette[15].rgbRed & palette[15].rgbGreen & palette[15].rgbBlue, 0xFF) << "index 15 is white";
        EXPECT_EQ(palette[10].rgbGreen, 0xFF);
        EXPECT_EQ(palette[10].rgbRed, 0);
        for (const RGBQUAD& colour : palette) EXPECT_EQ(colour.rgbReserved, 0);
    }
}

TEST(ProgramIcon, PicturesAreStoredBottomUp) {
    struct Case {
        int id;
        int edge;
        const char* const* picture;
    } cases[] = {{1, 32, kPicture32}, {2, 16, kPicture16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        DWORD size = 0;
        const BYTE* image = resource_data(RT_ICON, c.id, &size);
        ASSERT_NE(image, nullptr);
        std::vector<std::string> rows = decode(image, c.edge);
        for (int row = 0; row < c.edge; ++row) EXPECT_EQ(rows[row], c.picture[row]) << "row " << row;
    }
}

}  // namespace
