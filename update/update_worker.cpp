// The update worker: takes the flash from the running system, erases the
// image's range, writes the records, stages and checks the NAND boot area,
// and offers the reset.
#include <string.h>

#include "board/hal_ioctl.h"
#include "board/reboot.h"
#include "flash/flash_ops.h"
#include "res/resource_ids.h"
#include "shell/shell_state.h"
#include "update/boot_area.h"
#include "update/image_check.h"
#include "update/image_file.h"
#include "update/kept_flash.h"
#include "update/page_writer.h"
#include "update/section_map.h"
#include "update/update.h"
#include "update/update_progress.h"

#define TEXT_CHARS 256
#define ERASE_PROGRESS_STEP 0x10000
#define BOARD_ITEM_SIZE 8

// One update as the worker runs it.
typedef struct UPDATE_RUN {
    HWND dialog;
    HANDLE file;
    IMAGE_FILE_STAMP stamp;
    IMAGE_HEADER header;
    IMAGE_PLAN plan;
    DWORD imageBytesWritten;
    // Word-aligned: the flash back-ends move whole 32-bit words.
    DWORD pieceWords[UPDATE_PIECE_SIZE / sizeof(DWORD)];
} UPDATE_RUN;

static void ShowWriteError(HWND owner) { MessageBoxW(owner, TEXT("Error writing to Flash!"), TEXT("ERROR"), MB_OK); }

// The first 256 KiB of NAND flash are staged in RAM and written last; the
// part of a piece past the staging buffer goes to flash page by page.
static BOOL PlacePiece(HWND owner, const BYTE* piece, DWORD flashOffset, DWORD size) {
    if (FlashBackend == kFlashBackendNand && flashOffset < STAGING_BUFFER_SIZE) {
        DWORD staged = STAGING_BUFFER_SIZE - flashOffset;
        if (staged > size) staged = size;
        memcpy(StagingBuffer + flashOffset, piece, staged);
        BootAreaStaged = TRUE;
        piece += staged;
        flashOffset += staged;
        size -= staged;
        if (size == 0) return TRUE;
    }
    // Exact lengths: bytes of the piece buffer past the record never reach flash.
    if (!WritePagedPiece(piece, flashOffset, size)) {
        ShowWriteError(owner);
        return FALSE;
    }
    return TRUE;
}

enum RecordOutcome {
    kRecordFailed = 0,
    kRecordWritten = 1,
    kRecordCut = 2,  // Abort stopped it before its last piece
};

// The check pass placed every record; a file changed since is held to the
// same rules before anything of it reaches the flash.
static BOOL PiecePlaceable(UPDATE_RUN* run, const BYTE* piece, DWORD flashOffset, DWORD size) {
    PLACE_PROBLEM problem;
    if (!FindPieceProblem(&run->plan, piece, flashOffset, size, &problem)) return TRUE;
    ReportPlaceProblem(run->dialog, &problem);
    return FALSE;
}

// One ordinary record: its pieces, the progress, and its checksum.
static int WriteRecord(UPDATE_RUN* run, const IMAGE_RECORD_HEAD* head) {
    DWORD flashOffset = head->address + run->plan.addressBias;
    PLACE_PROBLEM problem;
    if (FindRecordProblem(&run->plan, flashOffset, head->length, &problem)) {
        ReportPlaceProblem(run->dialog, &problem);
        return kRecordFailed;
    }
    WCHAR text[TEXT_CHARS];
    StringCchPrintfW(text, TEXT_CHARS, TEXT("Section: %.8x  Len: %.8x(%d)"), flashOffset, head->length,
                     (int)head->length);
    SetDlgItemTextW(run->dialog, IDC_STATUS_LINE, text);
    SetProgressRange(run->dialog, IDC_PROGRESS_RECORD, head->length);
    SetProgressPosition(run->dialog, IDC_PROGRESS_RECORD, 0);

    BYTE* piece = (BYTE*)run->pieceWords;
    DWORD recordBytesWritten = 0;
    DWORD sum = 0;
    DWORD remaining = head->length;
    while (remaining > 0 && !AbortRequested) {
        DWORD size = remaining < UPDATE_PIECE_SIZE ? remaining : UPDATE_PIECE_SIZE;
        if (!ReadRecordPiece(run->file, run->dialog, piece, size)) return kRecordFailed;
        sum += ByteSum(piece, size);
        if (!PiecePlaceable(run, piece, flashOffset, size)) return kRecordFailed;
        if (!PlacePiece(run->dialog, piece, flashOffset, size)) return kRecordFailed;
        flashOffset += size;
        remaining -= size;
        recordBytesWritten += size;
        run->imageBytesWritten += size;
        SetProgressPosition(run->dialog, IDC_PROGRESS_RECORD, recordBytesWritten);
        SetProgressPosition(run->dialog, IDC_PROGRESS_IMAGE, run->imageBytesWritten);
    }
    // A record stopped by an abort is checked as far as it went.
    if (sum != head->checksum) {
        ReportBadChecksum(run->dialog);
        return kRecordFailed;
    }
    return remaining > 0 ? kRecordCut : kRecordWritten;
}

enum ImageOutcome {
    kImageFailed = 0,
    kImageWhole = 1,
    kImageCut = 2,  // Abort stopped it with records left
};

// Records up to the end record or an abort; kImageFailed after a failure's
// message.
static int WriteRecords(UPDATE_RUN* run) {
    DWORD recordsWritten = 0;
    for (;;) {
        // Also when the check pass was stopped: nothing is read or written.
        if (AbortRequested) return recordsWritten == run->plan.recordCount ? kImageWhole : kImageCut;
        IMAGE_RECORD_HEAD head;
        int kind = ReadRecordHead(run->file, run->dialog, &head);
        if (kind == kRecordHeadFailed) return kImageFailed;
        if (kind == kRecordHeadEnd) return kImageWhole;
        int outcome = WriteRecord(run, &head);
        if (outcome == kRecordFailed) return kImageFailed;
        if (outcome == kRecordCut) return kImageCut;
        ++recordsWritten;
    }
}

// The relocation the NAND back-end follows must be sound before the section
// map is read or anything is erased.
static BOOL RemapSound(HWND owner) {
    DWORD logicalBlock = 0, physicalBlock = 0;
    DWORD damage = kRemapSound;
    if (FlashOps.CheckRemap != NULL) damage = FlashOps.CheckRemap(&logicalBlock, &physicalBlock);
    if (damage == kRemapSound) return TRUE;
    WCHAR text[TEXT_CHARS];
    StringCchPrintfW(text, TEXT_CHARS,
                     damage == kRemapMapDamaged ? TEXT("Block map damaged: block %d -> %d!")
                                                : TEXT("Relocation table damaged: block %d -> %d!"),
                     (int)logicalBlock, (int)physicalBlock);
    MessageBoxW(owner, text, TEXT("ERROR"), MB_OK);
    return FALSE;
}

// The write pass reads the same open file again from its start. The check
// pass's header stays in force: the erase and every record are held to it.
static BOOL RewindForWriting(UPDATE_RUN* run) {
    IMAGE_HEADER again;
    return RewindImageFile(run->file) && ReadImageHeader(run->file, run->dialog, &again);
}

// Staged record data of a failed update are not written; the kept bytes
// beside them are.
static void DropStagedRecords(const IMAGE_PLAN* plan) {
    if (plan->start >= STAGING_BUFFER_SIZE) return;
    unsigned long long end = (unsigned long long)plan->start + plan->length;
    if (end > STAGING_BUFFER_SIZE) end = STAGING_BUFFER_SIZE;
    memset(StagingBuffer + plan->start, 0xFF, (size_t)(end - plan->start));
}

// The end of the blocks the erase certainly erased.
static DWORD ErasedEnd(const IMAGE_PLAN* plan, BOOL erased) {
    return plan->erasedStart + (erased ? plan->erasedLength : EraseBytesConfirmed);
}

// After the erase, on every way out: the kept bytes after the image, the
// gathered pages, and the staged boot area go to flash wherever the erase
// reached. Only the first failure of the update shows its message.
static BOOL FinishFlash(UPDATE_RUN* run, DWORD erasedEnd, BOOL failed) {
    BOOL done = WriteKeptFlash(&KeptFlash, FALSE, run->plan.erasedStart, erasedEnd) && FinishPageWriting();
    if (!done && !failed) ShowWriteError(run->dialog);
    failed = failed || !done;
    if (failed) DropStagedRecords(&run->plan);
    // The boot area is written last, after every record; after a failure
    // only for the kept bytes it holds.
    BOOL write = failed ? KeptFlashStaged(&KeptFlash) : BootAreaStaged;
    if (write && !WriteStagedBootArea(run->dialog, run->plan.erasedStart, erasedEnd, !failed)) return FALSE;
    return done;
}

// From the open file to the written image; FALSE after a failure's message,
// a declined warning, or an abort that left the image range partly erased or
// partly written.
static BOOL WriteImage(UPDATE_RUN* run) {
    if (!ReadImageHeader(run->file, run->dialog, &run->header)) return FALSE;
    PlanImage(&run->plan, &run->header);
    TranslatedImageStart = run->plan.start;
    DWORD imageLength = run->plan.length;

    // Everything the file and the flash's own state can tell is known
    // before the warning and the erase. An abort during the check leaves
    // the flow as it was: the erase stops before its first block.
    if (CheckImageFile(run->file, run->dialog, &run->plan, (BYTE*)run->pieceWords) == kCheckFailed) return FALSE;
    if (!RemapSound(run->dialog)) return FALSE;
    if (!RewindForWriting(run)) return FALSE;

    if (!QuietMode && !WarnOverwrite(TranslatedImageStart, imageLength, run->dialog)) return FALSE;

    // What the erase takes beside the image is read first; the file must
    // still be the one checked.
    PlanKeptFlash(&KeptFlash, &run->plan);
    if (!ReadKeptFlash(&KeptFlash, run->dialog)) return FALSE;
    if (!ImageFileUnchanged(run->file, run->dialog, &run->stamp)) return FALSE;

    WCHAR text[TEXT_CHARS];
    StringCchPrintfW(text, TEXT_CHARS, TEXT("Image: %.8x  Len: %.8x(%d)"), TranslatedImageStart, imageLength,
                     (int)imageLength);
    SetDlgItemTextW(run->dialog, IDC_IMAGE_LINE, text);

    // The whole range goes in one call before any write. A failed erase stops
    // the update: records programmed over flash that was not erased (or lies
    // outside the device) would be garbled while the update reported success.
    // An erase stopped by Abort is no failure of the flash: the finish follows.
    SetEraseProgressHook(OnEraseProgress, ERASE_PROGRESS_STEP);
    EraseTouchedFlash = FALSE;
    EraseBytesConfirmed = 0;
    BOOL erased = FlashOps.EraseRange(TranslatedImageStart, imageLength);
    DWORD erasedEnd = ErasedEnd(&run->plan, erased);
    BeginPageWriting(run->plan.recordsInOrder);
    if (!erased && !AbortRequested) {
        MessageBoxW(run->dialog, TEXT("Error erasing Flash!"), TEXT("ERROR"), MB_OK);
        WriteKeptFlash(&KeptFlash, TRUE, run->plan.erasedStart, erasedEnd);
        FinishFlash(run, erasedEnd, TRUE);
        return FALSE;
    }

    SetProgressRange(run->dialog, IDC_PROGRESS_IMAGE, imageLength);
    SetProgressPosition(run->dialog, IDC_PROGRESS_IMAGE, 0);

    // The bytes before the image go back at once, those after it once the
    // records are written: pages they share with records are programmed once.
    int written = kImageFailed;
    if (!WriteKeptFlash(&KeptFlash, TRUE, run->plan.erasedStart, erasedEnd))
        ShowWriteError(run->dialog);
    else
        written = WriteRecords(run);
    if (!FinishFlash(run, erasedEnd, written == kImageFailed) || written == kImageFailed) return FALSE;
    // An abort that stopped the erase or the records after a block was
    // erased leaves no whole image behind: no success, no reset offered.
    return !EraseTouchedFlash || (erased && written == kImageWhole);
}

// Board configuration item 0, read before the flash is written and put back
// unchanged afterwards.
typedef struct BOARD_ITEM {
    BYTE bytes[BOARD_ITEM_SIZE];
    DWORD bytesReturned;
} BOARD_ITEM;

static void ReadBoardItem(BOARD_ITEM* item) {
    item->bytesReturned = 0;
    CONFIG_ITEM_REQUEST request = {kConfigItemBoard, item->bytes, BOARD_ITEM_SIZE};
    if (!KernelIoControl(IOCTL_HAL_GET_CONFIG_ITEM, &request, sizeof request, item->bytes, BOARD_ITEM_SIZE,
                         &item->bytesReturned))
        item->bytesReturned = 0;
}

static void WriteBackBoardItem(BOARD_ITEM* item) {
    // A configuration block just moved from its old place is not to be
    // overwritten with the item read before the move.
    if (item->bytesReturned == 0 || SectionMap[kSectionConfigBlock].start == CONFIG_BLOCK_OLD_PLACE) return;
    CONFIG_ITEM_REQUEST request = {kConfigItemBoard, item->bytes, BOARD_ITEM_SIZE};
    DWORD bytesReturned = 0;
    KernelIoControl(IOCTL_HAL_SET_CONFIG_ITEM, &request, sizeof request, item->bytes, BOARD_ITEM_SIZE, &bytesReturned);
}

static void ShowNoFlash(HWND owner) { MessageBoxW(owner, TEXT("Cannot access Flash!"), TEXT("ERROR"), MB_OK); }

DWORD WINAPI UpdateWorker(LPVOID parameter) {
    // Static: the 16 KiB piece buffer stays off the worker's small stack.
    static UPDATE_RUN run;
    // 1. preparation
    memset(&run, 0, sizeof run);
    run.dialog = (HWND)parameter;
    run.file = INVALID_HANDLE_VALUE;
    BOOL result = FALSE;
    BootAreaStaged = FALSE;
    memset(StagingBuffer, 0xFF, sizeof StagingBuffer);
    KeptFlash.count = 0;
    ProgressDialogWindow = run.dialog;

    // 2. the running system's flash drivers keep off the flash until the end
    HANDLE mutex = CreateMutexW(NULL, FALSE, TEXT("OnModuleFlash"));
    WaitForSingleObject(mutex, INFINITE);

    // 3-4. back-end and board item; without a back-end nothing can be written
    BOARD_ITEM boardItem;
    boardItem.bytesReturned = 0;
    if (SelectFlashBackend() == 0) {
        ShowNoFlash(run.dialog);
    } else {
        ReadBoardItem(&boardItem);
        // 5-12. the image
        run.file = OpenImageFile(run.dialog);
        if (run.file != INVALID_HANDLE_VALUE && !TakeImageFileStamp(run.file, &run.stamp)) {
            // Without a stamp a change to the file could not be seen.
            MessageBoxW(run.dialog, TEXT("Image File has changed since it was checked!"), TEXT("ERROR"), MB_OK);
        } else if (run.file != INVALID_HANDLE_VALUE) {
            result = WriteImage(&run);
        }
        ReleaseKeptFlash(&KeptFlash);
    }

    // 13. the end, on every way out
    WriteBackBoardItem(&boardItem);
    if (result && !QuietMode &&
        MessageBoxW(run.dialog, TEXT("To finish the update reset the system.\n Reset now?"), TEXT("RESET"), MB_YESNO) ==
            IDYES)
        Reboot(TRUE);
    if (mutex != NULL) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    if (run.file != INVALID_HANDLE_VALUE) CloseHandle(run.file);
    ProgressDialogWindow = NULL;
    // Emptied before the dialog ends: the next update asks for a file again.
    ImagePath[0] = 0;
    EndDialog(run.dialog, 0);
    return result ? 1 : 0;
}
