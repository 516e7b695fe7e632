// The PXA3xx NAND data flash controller (DFC) at physical 0x43100000, driven
// by programmed I/O: NDCR, NDTR0CS0, NDTR1CS0, NDSR (write 1 to clear), the
// NDDB data FIFO and the NDCB0 command buffer (three writes per command),
// over the chips of the board's wiring.
//
// One command at a time: setting ND_RUN raises WRCMDREQ; the third NDCB0
// word starts the command once the addressed chips are ready; the controller
// clears ND_RUN when the command is done (CMDD), and clearing ND_RUN by hand
// abandons a command in flight. Read: the chips' busy time, then RDY, the
// data in the FIFO with RDDREQ (and SBERR/DBERR), CMDD and PAGED when the
// host has drained it. Program: WRDREQ, the host fills the FIFO, the chips'
// busy time, RDY, the AUTO_RS status check (a failing chip sets BBD), CMDD
// and PAGED. Erase: busy, RDY, status, CMDD. Read ID and status: 8 bytes in
// the FIFO at once with RDDREQ and CMDD; bytes the host leaves there go to
// the flash with the next program. Reset: busy, RDY, CMDD.
//
// With ECC_EN the controller stores a Hamming ECC of each lane's page data
// in that lane's spare area (bytes 40-63 of a 2048-byte page, 8-13 of a
// 512-byte page) and checks it on reads. The bus width (DWIDTH_C) decides
// whether a data cycle carries one byte (chip 0 of the chip select) or one
// byte per lane (chip 0 low, chip 1 high).
//
// Events: each command taken, the NDSR bits it raises (Signal), a failed
// chip status under AUTO_RS (BadBlock), each lane's ECC outcome, writes it
// ignores and data moved out of turn; the chips add their own.
//
// Not modelled: DMA (NDCR bit 29 is kept, data moves only through NDDB),
// interrupts (the masks are kept), the page counter, 16-bit flash (DWIDTH_M
// is kept; the chips are all 8-bit), the NAND bus cycle times of the timing
// registers (kept; the virtual time is the chips' busy times plus one bus
// cycle per register access).
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "module/hw/clock.h"
#include "module/hw/device.h"
#include "module/hw/nand/nand_chip.h"
#include "module/hw/nand/nand_fifo.h"

namespace sim {

constexpr uint32_t kNandControllerBase = 0x43100000;
constexpr uint32_t kNandControllerSize = 0x1000;

// Register offsets.
constexpr uint32_t NDCR = 0x00;
constexpr uint32_t NDTR0CS0 = 0x04;
constexpr uint32_t NDTR1CS0 = 0x0C;
constexpr uint32_t NDSR = 0x14;
constexpr uint32_t NDPCR = 0x18;
constexpr uint32_t NDBDR0 = 0x1C;
constexpr uint32_t NDBDR1 = 0x20;
constexpr uint32_t NDDB = 0x40;
constexpr uint32_t NDCB0 = 0x48;
constexpr uint32_t NDCB1 = 0x4C;
constexpr uint32_t NDCB2 = 0x50;

// NDCR bits.
constexpr uint32_t kNdcrSpareEn = 1u << 31;
constexpr uint32_t kNdcrEccEn = 1u << 30;
constexpr uint32_t kNdcrDmaEn = 1u << 29;
constexpr uint32_t kNdcrNdRun = 1u << 28;
constexpr uint32_t kNdcrDwidthC = 1u << 27;
constexpr uint32_t kNdcrDwidthM = 1u << 26;
constexpr uint32_t kNdcrPageSz = 1u << 24;

// NDSR bits.
constexpr uint32_t kNdsrWrCmdReq = 1u << 0;
constexpr uint32_t kNdsrRdDReq = 1u << 1;
constexpr uint32_t kNdsrWrDReq = 1u << 2;
constexpr uint32_t kNdsrSbErr = 1u << 3;
constexpr uint32_t kNdsrDbErr = 1u << 4;
constexpr uint32_t kNdsrCs1Bbd = 1u << 5;
constexpr uint32_t kNdsrCs0Bbd = 1u << 6;
constexpr uint32_t kNdsrCs1Cmdd = 1u << 7;
constexpr uint32_t kNdsrCs0Cmdd = 1u << 8;
constexpr uint32_t kNdsrCs1PageD = 1u << 9;
constexpr uint32_t kNdsrCs0PageD = 1u << 10;
constexpr uint32_t kNdsrRdy = 1u << 11;

// The NDSR bits the controller defines (11:0); the others read 0.
constexpr uint32_t kNdsrDefined = 0xFFF;

// A field of a register word: width bits from bit shift on.
struct RegisterField {
    unsigned shift;
    unsigned width;
    constexpr uint32_t of(uint32_t word) const { return (word >> shift) & ((1u << width) - 1); }
};

// NDCR RD_ID_CNT: how many bytes a read ID gathers.
constexpr RegisterField kNdcrRdIdCnt{16, 3};

// NDCB0, the first word of a command.
constexpr RegisterField kNdcb0Cmd1{0, 8};      // the first command cycle
constexpr RegisterField kNdcb0Cmd2{8, 8};      // the second, sent when DBC is set
constexpr RegisterField kNdcb0AddrCyc{16, 3};  // address cycles (at most 5)
constexpr uint32_t kNdcb0Dbc = 1u << 19;       // double-byte command: send CMD2
constexpr RegisterField kNdcb0CmdType{21, 3};  // NandCommandType
constexpr uint32_t kNdcb0Csel = 1u << 24;      // chip select 1
constexpr uint32_t kNdcb0AutoRs = 1u << 25;    // read the chip's status after a program or erase
// NDCB1 holds address cycles 1 to 4, low byte first; NDCB2's low byte cycle 5.

// NDCB0 command types.
enum class NandCommandType : uint8_t { Read = 0, Program = 1, Erase = 2, ReadId = 3, Status = 4, Reset = 5 };

// The longest a status poll of a busy controller advances the virtual clock.
constexpr uint64_t kNandPollStepNs = 1000000;

class NandController : public Device {
public:
    // chips[N] is nand-N; the controller owns them and their storage.
    // The controller and its chips tell what they do to events.
    NandController(VirtualClock& clock, EventSink& events, NandWiring wiring,
                   std::vector<std::unique_ptr<NandStorage>> storage, std::vector<std::unique_ptr<NandChip>> chips);
    // An operation whose busy time has passed ends with the module.
    ~NandController() override;

    const char* name() const override { return "NAND controller"; }
    // The data words of a page (a word out of the FIFO while a read has more
    // than one left, a word into it while a program waits for data) take
    // the short way; every other access goes through the registers.
    uint32_t read32(uint32_t offset) override {
        if ((offset & ~3u) == NDDB && phase_ == Phase::ReadData && fifo_.size() > 4) return fifo_.pop_word();
        return read_register(offset);
    }
    void write32(uint32_t offset, uint32_t value) override {
        if ((offset & ~3u) != NDDB || phase_ != Phase::WriteData || !fifo_.fits_at_tail(4))
            return write_register(offset, value);
        fifo_.push_word(value);
        if (fifo_.size() >= command_.transfer_bytes) take_write_data(clock_.now_ns());
    }

    // The registers as another driver left them before the program starts.
    void preset(uint32_t ndcr, uint32_t ndtr0, uint32_t ndtr1) {
        ndcr_ = ndcr & ~kNdcrNdRun;
        ndtr0_ = ndtr0;
        ndtr1_ = ndtr1;
    }
    NandWiring wiring() const { return wiring_; }
    unsigned chip_count() const { return static_cast<unsigned>(chips_.size()); }
    NandChip& chip(unsigned n) { return *chips_[n]; }
    // The chips put their program and erase starts to the module's power cut;
    // the controller ends the run once the command that started the one the
    // power goes in has reached every chip of the bus.
    void set_power(PowerLine* power) {
        power_ = power;
        for (auto& chip : chips_) chip->set_power(power);
    }

private:
    enum class Phase { Idle, AwaitCommand, WaitChips, ChipBusy, ReadData, WriteData };
    struct Command {
        uint32_t word = 0;
        NandCommandType type = NandCommandType::Read;
        Operation op = Operation::None;  // what the command asks of the chips
        unsigned type_bits = 0;
        uint8_t cmd1 = 0, cmd2 = 0;
        bool dbc = false, auto_rs = false;
        unsigned chip_select = 0;
        unsigned address_cycles = 0;
        uint8_t address[5] = {};
        uint32_t ndcr = 0;
        NandChip* lane[2] = {nullptr, nullptr};
        unsigned lanes = 1;
        uint32_t page_bytes = 0;      // per lane
        uint32_t spare_full = 0;      // per lane
        uint32_t ecc_offset = 0;      // in the spare area
        uint32_t lane_bytes = 0;      // bytes per lane through the FIFO
        uint32_t transfer_bytes = 0;  // bytes of all lanes through the FIFO
        bool ecc = false;
        bool went_busy = false;
        uint64_t busy_end = 0;
    };

    uint32_t read_register(uint32_t offset);
    void write_register(uint32_t offset, uint32_t value);
    void step(uint64_t now);
    std::optional<uint64_t> next_event() const;
    void start_run();
    void accept_command(uint64_t now);
    void issue(uint64_t now);
    void start_busy_phase(uint64_t now);
    void finish_busy(uint64_t now);
    void deliver_read(uint64_t now);
    void take_write_data(uint64_t now);
    void complete();
    void abandon();
    uint32_t pop_word();
    void push_bytes(const uint8_t* bytes, size_t count);
    void emit(EventKind kind, uint32_t address, uint32_t value, uint32_t length = 0) {
        if (events_.wants(kind))
            events_.deliver(DeviceEvent{clock_.now_ns(), address, value, length, 0, EventSource::NandController,
                                        static_cast<uint8_t>(command_.chip_select), kind, command_.op,
                                        FaultKind::None});
    }
    // An event about the page a chip has just read or written.
    void emit_page(EventKind kind, const NandChip& chip, uint32_t value);

    VirtualClock& clock_;
    EventSink& events_;
    PowerLine* power_ = nullptr;
    NandWiring wiring_;
    std::vector<std::unique_ptr<NandStorage>> storage_;
    std::vector<std::unique_ptr<NandChip>> chips_;
    uint32_t ndcr_ = 0;
    uint32_t ndtr0_ = 0;
    uint32_t ndtr1_ = 0;
    uint32_t ndsr_ = 0;
    Phase phase_ = Phase::Idle;
    uint32_t words_[3] = {};
    unsigned word_count_ = 0;
    Command command_;
    NandFifo fifo_;
    std::vector<uint8_t> lane_buffer_;
    std::vector<uint8_t> stream_;
};

}  // namespace sim
