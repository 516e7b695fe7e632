#include "tools/modulectl/raw_dump.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "module/assembly/nand_profile.h"
#include "module/config.h"
#include "module/hw/folder_file.h"
#include "module/hw/nand/nand_layout.h"
#include "module/hw/nand/nand_storage.h"
#include "tools/common/output_file.h"

namespace fs = std::filesystem;

namespace modulectl {

namespace {

constexpr uint64_t kPagesAtOnce = 256;

// A file of the module, opened as it stands in the folder (never through a
// link); closed with the object.
class ModuleFile {
public:
    ModuleFile(const fs::path& path, int flags)
        : path_(path), fd_(sim::open_in_folder(path.parent_path(), path.filename(), flags)), error_(errno) {}
    ~ModuleFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    ModuleFile(const ModuleFile&) = delete;
    ModuleFile& operator=(const ModuleFile&) = delete;
    int fd() const { return fd_; }
    // Why it did not open.
    std::string failure() const { return sim::open_failure(path_, error_); }

private:
    fs::path path_;
    int fd_;
    int error_;
};

// A chip file read from its start; bytes past its end (or a file that is not
// there) read erased.
class ChipFileReader {
public:
    explicit ChipFileReader(const fs::path& path) : file_(path, O_RDONLY) {}
    void read(uint64_t offset, uint8_t* out, uint64_t size) {
        if (size == 0) return;
        std::memset(out, 0xFF, size);
        for (uint64_t done = 0; file_.fd() >= 0 && done < size;) {
            ssize_t n = ::pread(file_.fd(), out + done, size - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<uint64_t>(n);
        }
    }

private:
    ModuleFile file_;
};

// Writes a chip file from its start, leaving out its erased tail as the
// flash file format allows: erased bytes are held back until data follows.
// The file takes the old one's place when commit() is called.
class ChipFileWriter {
public:
    bool open(const fs::path& path, std::string* error) { return out_.open(path, error); }
    void write(const uint8_t* bytes, uint64_t size) {
        if (size == 0) return;
        const uint8_t* last = bytes + size;
        while (last > bytes && last[-1] == 0xFF) --last;
        if (last == bytes) {
            held_ += size;
            return;
        }
        static const std::vector<uint8_t> erased(1 << 16, 0xFF);
        for (; held_ > 0; held_ -= std::min<uint64_t>(held_, erased.size()))
            out_.write(erased.data(), std::min<uint64_t>(held_, erased.size()));
        out_.write(bytes, static_cast<size_t>(last - bytes));
        held_ = static_cast<uint64_t>(bytes + size - last);
    }
    bool commit(std::string* error) { return out_.commit(error); }

private:
    OutputFile out_;
    uint64_t held_ = 0;
    bool ok_ = true;
};

std::string size_text(uint64_t bytes) { return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes"); }

}  // namespace

std::string RawLayout::describe() const {
    if (!nand) return "the NOR byte image, " + size_text(nor_bytes);
    return std::to_string(chips) + (chips == 1 ? " chip x " : " chips x ") + std::to_string(pages) + " pages x " +
           (spare_bytes ? "(" + std::to_string(page_bytes) + " + " + std::to_string(spare_bytes) + ")"
                        : std::to_string(page_bytes)) +
           " bytes = " + size_text(dump_bytes());
}

bool raw_layout(const fs::path& dir, bool with_oob, RawLayout* layout, std::string* error) {
    sim::Config profile;
    if (!profile.load((dir / "module.toml").string(), error)) return false;
    if (profile.get_string("flash.kind", "nor") != "nand") {
        layout->nor_bytes = 2ull << profile.get_u32("nor.query_size", 24);
        return true;
    }
    sim::NandBoardConfig board;
    if (!sim::nand_config_from_profile(profile, &board, error)) return false;
    const sim::NandPart& p = *board.part;
    layout->nand = true;
    layout->chips = p.chip_count();
    layout->pages = p.pages();
    layout->page_bytes = p.page_bytes;
    layout->spare_bytes = with_oob ? p.spare_bytes : 0;
    return true;
}

bool export_raw(const fs::path& dir, const fs::path& file, bool with_oob, std::ostream& out, std::string* error) {
    RawLayout l;
    if (!raw_layout(dir, with_oob, &l, error)) return false;
    // "-" is standard output, for a pipe.
    OutputFile f;
    if (!f.open(file == "-" ? fs::path("/dev/stdout") : file, error, file == "-")) return false;
    std::vector<uint8_t> main, spare, raw;
    if (!l.nand) {
        ChipFileReader nor(dir / "nor.bin");
        main.resize(4 << 20);
        for (uint64_t done = 0; done < l.nor_bytes; done += main.size()) {
            uint64_t n = std::min<uint64_t>(main.size(), l.nor_bytes - done);
            nor.read(done, main.data(), n);
            f.write(main.data(), n);
        }
    }
    for (unsigned chip = 0; l.nand && chip < l.chips; ++chip) {
        ChipFileReader mains(sim::NandStorage::main_path(dir, chip)), spares(sim::NandStorage::oob_path(dir, chip));
        const uint32_t spare_bytes = l.spare_bytes;
        for (uint64_t page = 0; page < l.pages; page += kPagesAtOnce) {
            uint64_t n = std::min(kPagesAtOnce, l.pages - page);
            main.resize(n * l.page_bytes);
            spare.resize(n * spare_bytes);
            mains.read(page * l.page_bytes, main.data(), main.size());
            spares.read(page * spare_bytes, spare.data(), spare.size());
            // Each page's main area, then its spare area.
            raw.resize(n * (l.page_bytes + spare_bytes));
            for (uint64_t k = 0; k < n; ++k) {
                uint8_t* at = raw.data() + k * (l.page_bytes + spare_bytes);
                std::memcpy(at, main.data() + k * l.page_bytes, l.page_bytes);
                if (spare_bytes) std::memcpy(at + l.page_bytes, spare.data() + k * spare_bytes, spare_bytes);
            }
            f.write(raw.data(), raw.size());
        }
    }
    if (!f.commit(error)) return false;
    out << "exported " << l.describe() << " to " << file.string() << "\n";
    return true;
}

bool import_raw(const fs::path& dir, const fs::path& file, bool with_oob, std::ostream& out, std::string* error) {
    RawLayout l;
    if (!raw_layout(dir, with_oob, &l, error)) return false;
    std::error_code ec;
    uint64_t size = fs::file_size(file, ec);
    if (ec) {
        *error = "cannot read " + file.string() + ": " + ec.message();
        return false;
    }
    if (size != l.dump_bytes()) {
        std::string other;
        RawLayout o;
        if (l.nand && raw_layout(dir, !with_oob, &o, error) && size == o.dump_bytes())
            other = with_oob ? " (it has the size of a dump without them: add --no-oob)"
                             : " (it has the size of a dump with them: leave out --no-oob)";
        *error = file.string() + " is " + size_text(size) + "; a dump of this module" +
                 (l.nand ? (with_oob ? " with spare areas" : " without spare areas") : "") + " is " + l.describe() +
                 other;
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> raw, main, spare;
    if (!l.nand) {
        // nor.bin keeps the device size: the dump is the whole of it.
        OutputFile nor;
        if (!nor.open(dir / "nor.bin", error)) return false;
        raw.resize(4 << 20);
        for (uint64_t done = 0; in && done < size; done += raw.size()) {
            uint64_t n = std::min<uint64_t>(raw.size(), size - done);
            in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(n));
            nor.write(raw.data(), n);
        }
        if (!in) {
            *error = "cannot read " + file.string();
            return false;
        }
        if (!nor.commit(error)) return false;
    }
    // Every chip file is written whole before any takes its old one's place.
    const uint32_t raw_page = l.page_bytes + l.spare_bytes;
    std::vector<std::unique_ptr<ChipFileWriter>> files;
    for (unsigned chip = 0; l.nand && chip < l.chips; ++chip) {
        auto mains = std::make_unique<ChipFileWriter>(), spares = std::make_unique<ChipFileWriter>();
        if (!mains->open(sim::NandStorage::main_path(dir, chip), error) ||
            !spares->open(sim::NandStorage::oob_path(dir, chip), error))
            return false;
        for (uint64_t page = 0; page < l.pages; page += kPagesAtOnce) {
            uint64_t n = std::min(kPagesAtOnce, l.pages - page);
            raw.resize(n * raw_page);
            in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
            main.clear();
            spare.clear();
            for (uint64_t k = 0; k < n; ++k) {
                const uint8_t* at = raw.data() + k * raw_page;
                main.insert(main.end(), at, at + l.page_bytes);
                spare.insert(spare.end(), at + l.page_bytes, at + raw_page);
            }
            mains->write(main.data(), main.size());
            spares->write(spare.data(), spare.size());
        }
        if (!in) {
            *error = "cannot read chip " + std::to_string(chip) + " from " + file.string();
            return false;
        }
        files.push_back(std::move(mains));
        files.push_back(std::move(spares));
    }
    for (std::unique_ptr<ChipFileWriter>& f : files)
        if (!f->commit(error)) return false;
    // The shared block map and the pages' program counts belonged to the old contents.
    if (l.nand) fs::remove(dir / sim::kBbmtObjectFile, ec);
    for (unsigned chip = 0; l.nand && chip < l.chips; ++chip) fs::remove(sim::NandStorage::nop_path(dir, chip), ec);
    out << "imported " << l.describe() << " from " << file.string() << "\n";
    return true;
}

}  // namespace modulectl
