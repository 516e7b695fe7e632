#include "module/hw/nand/nand_controller.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "module/hw/nand/nand_ecc.h"

namespace sim {

namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

Operation operation_of(NandCommandType type) {
    switch (type) {
        case NandCommandType::Read: return Operation::PageRead;
        case NandCommandType::Program: return Operation::PageProgram;
        case NandCommandType::Erase: return Operation::BlockErase;
        case NandCommandType::ReadId: return Operation::ReadId;
        case NandCommandType::Status: return Operation::ReadStatus;
        case NandCommandType::Reset: return Operation::Reset;
    }
    return Operation::None;
}

}  // namespace

NandController::NandController(VirtualClock& clock, EventSink& events, NandWiring wiring,
                               std::vector<std::unique_ptr<NandStorage>> storage,
                               std::vector<std::unique_ptr<NandChip>> chips)
    : clock_(clock), events_(events), wiring_(wiring), storage_(std::move(storage)), chips_(std::move(chips)) {}

NandController::~NandController() {
    for (auto& chip : chips_) chip->settle(clock_.now_ns());
}

void NandController::emit_page(EventKind kind, const NandChip& chip, uint32_t value) {
    if (!events_.wants(kind)) return;
    const NandPart& p = chip.part();
    events_.deliver(DeviceEvent{clock_.now_ns(), chip.page() * p.page_bytes, value, p.page_bytes,
                                chip.page() / p.pages_per_block, EventSource::NandController,
                                static_cast<uint8_t>(chip.config().index), kind, command_.op, FaultKind::None});
}

// Out of line, so that the data-word paths stay free of calls.
[[gnu::noinline]] uint32_t NandController::read_register(uint32_t offset) {
    uint64_t now = clock_.now_ns();
    step(now);
    switch (offset & ~3u) {
        case NDCR: return ndcr_;
        case NDTR0CS0: return ndtr0_;
        case NDTR1CS0: return ndtr1_;
        case NDSR: {
            // A poll of a busy controller stands for the polls until the next
            // event, up to a millisecond of them, so waiting stays cheap.
            std::optional<uint64_t> event = next_event();
            if (event && *event > now) {
                clock_.advance_to_ns(std::min(*event, now + kNandPollStepNs));
                clock_.pace();
                step(clock_.now_ns());
            }
            return ndsr_ & kNdsrDefined;
        }
        case NDDB: {
            uint32_t word = pop_word();
            if (phase_ == Phase::ReadData && fifo_.size() == 0) complete();
            return word;
        }
        default: return 0;
    }
}

[[gnu::noinline]] void NandController::write_register(uint32_t offset, uint32_t value) {
    uint64_t now = clock_.now_ns();
    step(now);
    switch (offset & ~3u) {
        case NDCR: {
            uint32_t old = ndcr_;
            ndcr_ = value;
            if (!(old & kNdcrNdRun) && (value & kNdcrNdRun))
                start_run();
            else if ((old & kNdcrNdRun) && !(value & kNdcrNdRun))
                abandon();
            break;
        }
        case NDTR0CS0: ndtr0_ = value; break;
        case NDTR1CS0: ndtr1_ = value; break;
        case NDSR:
            ndsr_ &= ~value;  // write 1 to clear
            break;
        case NDDB: {
            uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
            push_bytes(bytes, 4);
            if (phase_ == Phase::WriteData && fifo_.size() >= command_.transfer_bytes) take_write_data(now);
            break;
        }
        case NDCB0:
            if (phase_ != Phase::AwaitCommand) {
                emit(EventKind::Ignored, NDCB0, value);  // no command requested
                break;
            }
            words_[word_count_++] = value;
            if (word_count_ == 3) accept_command(now);
            break;
        case NDCB1:
        case NDCB2:
            emit(EventKind::Ignored, offset & ~3u, value);  // the command buffer fills only through NDCB0
            break;
        default: break;
    }
}

void NandController::start_run() {
    phase_ = Phase::AwaitCommand;
    word_count_ = 0;
    command_ = Command{};
    ndsr_ |= kNdsrWrCmdReq;
    emit(EventKind::Signal, NDSR, ndsr_ & kNdsrDefined);
}

void NandController::abandon() {
    if (phase_ == Phase::Idle) return;
    emit(EventKind::SequenceError, NDCR, command_.word);  // ND_RUN cleared in the middle of a command
    phase_ = Phase::Idle;
    fifo_.clear();
}

void NandController::accept_command(uint64_t now) {
    Command c;
    c.word = words_[0];
    c.cmd1 = static_cast<uint8_t>(kNdcb0Cmd1.of(c.word));
    c.cmd2 = static_cast<uint8_t>(kNdcb0Cmd2.of(c.word));
    c.address_cycles = std::min<unsigned>(kNdcb0AddrCyc.of(c.word), 5);
    c.dbc = (c.word & kNdcb0Dbc) != 0;
    c.type_bits = kNdcb0CmdType.of(c.word);
    c.type = static_cast<NandCommandType>(c.type_bits);
    c.op = operation_of(c.type);
    c.chip_select = (c.word & kNdcb0Csel) ? 1 : 0;
    c.auto_rs = (c.word & kNdcb0AutoRs) != 0;
    for (int i = 0; i < 4; ++i) c.address[i] = static_cast<uint8_t>(words_[1] >> (8 * i));
    c.address[4] = static_cast<uint8_t>(words_[2]);
    c.ndcr = ndcr_;
    c.lanes = (ndcr_ & kNdcrDwidthC) ? 2 : 1;
    // Which chip drives each byte lane of the chosen chip select.
    switch (wiring_) {
        case NandWiring::DoubledBus:
            if (c.chip_select == 0) {
                c.lane[0] = chips_[0].get();
                if (c.lanes == 2) c.lane[1] = chips_[1].get();
            }
            break;
        case NandWiring::Single:
            if (c.chip_select == 0) c.lane[0] = chips_[0].get();
            break;
        case NandWiring::TwoSelects: c.lane[0] = chips_[c.chip_select].get(); break;
    }
    c.page_bytes = (ndcr_ & kNdcrPageSz) ? 2048 : 512;
    c.spare_full = c.page_bytes / 32;
    c.ecc_offset = c.page_bytes == 2048 ? 40 : 8;
    c.ecc = (ndcr_ & kNdcrEccEn) != 0;
    uint32_t spare = 0;
    if (ndcr_ & kNdcrSpareEn) spare = c.ecc ? c.ecc_offset : c.spare_full;
    c.lane_bytes = c.page_bytes + spare;
    c.transfer_bytes = c.lane_bytes * c.lanes;
    command_ = c;
    phase_ = Phase::WaitChips;
    emit(EventKind::Command, words_[1], c.word);
    step(now);
}

// The controller holds a command until the chips it addresses are ready.
void NandController::step(uint64_t now) {
    for (;;) {
        if (phase_ == Phase::WaitChips) {
            bool ready = true;
            for (NandChip* chip : command_.lane)
                if (chip && !chip->ready(now)) ready = false;
            if (!ready) return;
            issue(now);
        } else if (phase_ == Phase::ChipBusy) {
            if (now < command_.busy_end) return;
            finish_busy(now);
        } else {
            return;
        }
    }
}

std::optional<uint64_t> NandController::next_event() const {
    uint64_t at = 0;
    if (phase_ == Phase::WaitChips) {
        for (NandChip* chip : command_.lane)
            if (chip) at = std::max(at, chip->ready_at());
    } else if (phase_ == Phase::ChipBusy) {
        at = command_.busy_end;
    } else {
        return std::nullopt;
    }
    if (at == kNever) return std::nullopt;
    return at;
}

void NandController::issue(uint64_t now) {
    Command& c = command_;
    for (NandChip* chip : c.lane) {
        if (!chip) continue;
        chip->command(c.cmd1, now);
        if (c.address_cycles) chip->address(c.address, c.address_cycles, now);
    }
    switch (c.type) {
        case NandCommandType::Read:
        case NandCommandType::Erase:
            if (c.dbc)
                for (NandChip* chip : c.lane)
                    if (chip) chip->command(c.cmd2, now);
            start_busy_phase(now);
            break;
        case NandCommandType::Reset: start_busy_phase(now); break;
        case NandCommandType::Program:
            ndsr_ |= kNdsrWrDReq;
            phase_ = Phase::WriteData;
            emit(EventKind::Signal, NDSR, ndsr_ & kNdsrDefined, c.lane_bytes * c.lanes);
            // Bytes already waiting in the FIFO count as the first of the page.
            if (fifo_.size() >= c.transfer_bytes) take_write_data(now);
            break;
        case NandCommandType::ReadId: {
            // Gathered one byte per cycle from the lane-0 chip, whatever the bus width.
            uint8_t bytes[8] = {};
            unsigned count = kNdcrRdIdCnt.of(c.ndcr);
            if (c.lane[0])
                c.lane[0]->read_data(bytes, count, now);
            else
                std::fill(bytes, bytes + count, 0xFF);
            push_bytes(bytes, 8);
            ndsr_ |= kNdsrRdDReq;
            complete();
            break;
        }
        case NandCommandType::Status: {
            uint8_t bytes[8] = {};
            for (unsigned lane = 0; lane < c.lanes; ++lane) {
                if (c.lane[lane])
                    c.lane[lane]->read_data(&bytes[lane], 1, now);
                else
                    bytes[lane] = 0xFF;
            }
            push_bytes(bytes, 8);
            ndsr_ |= kNdsrRdDReq;
            complete();
            break;
        }
        default:
            emit(EventKind::Ignored, NDCB0, c.word);  // not a command type of this controller
            complete();
            break;
    }
}

void NandController::start_busy_phase(uint64_t now) {
    if (power_ && power_->tripped()) power_->power_off();
    Command& c = command_;
    c.went_busy = false;
    c.busy_end = now;
    for (NandChip* chip : c.lane) {
        if (chip && !chip->ready(now)) {
            c.went_busy = true;
            c.busy_end = std::max(c.busy_end, chip->ready_at());
        }
    }
    phase_ = Phase::ChipBusy;
}

void NandController::finish_busy(uint64_t now) {
    Command& c = command_;
    if (c.went_busy) ndsr_ |= kNdsrRdy;  // R/B# rose
    for (NandChip* chip : c.lane)
        if (chip) chip->settle(now);
    switch (c.type) {
        case NandCommandType::Read: deliver_read(now); break;
        case NandCommandType::Program:
        case NandCommandType::Erase:
            if (c.auto_rs) {
                // A failed program or erase reports both the bad block and the end of the command.
                for (NandChip* chip : c.lane) {
                    if (!chip) continue;
                    chip->command(kNandCmdReadStatus, now);
                    uint8_t status = 0;
                    chip->read_data(&status, 1, now);
                    if (status & kNandStatusFail) {
                        ndsr_ |= c.chip_select ? kNdsrCs1Bbd : kNdsrCs0Bbd;
                        emit_page(EventKind::BadBlock, *chip, status);
                    }
                }
            }
            complete();
            break;
        default: complete(); break;
    }
}

void NandController::deliver_read(uint64_t now) {
    Command& c = command_;
    uint32_t from_chip = c.ecc ? c.page_bytes + c.spare_full : c.lane_bytes;
    stream_.resize(c.transfer_bytes);
    bool corrected = false, uncorrectable = false;
    lane_buffer_.resize(from_chip);
    for (unsigned lane = 0; lane < c.lanes; ++lane) {
        NandChip* chip = c.lane[lane];
        if (chip)
            chip->read_data(lane_buffer_.data(), from_chip, now);
        else
            std::fill(lane_buffer_.begin(), lane_buffer_.end(), 0xFF);
        if (c.ecc && chip) {
            EccOutcome o =
                ecc_correct(lane_buffer_.data(), c.page_bytes, lane_buffer_.data() + c.page_bytes + c.ecc_offset);
            if (o == EccOutcome::Uncorrectable) {
                uncorrectable = true;
                emit_page(EventKind::EccUncorrectable, *chip, 0);
            } else if (o == EccOutcome::Corrected) {
                corrected = true;
                emit_page(EventKind::EccCorrected, *chip, 0);
            }
        }
        // The lanes' bytes interleave on the bus, one byte of each per cycle.
        if (c.lanes == 1)
            std::memcpy(stream_.data(), lane_buffer_.data(), c.lane_bytes);
        else
            for (uint32_t j = 0; j < c.lane_bytes; ++j) stream_[j * c.lanes + lane] = lane_buffer_[j];
    }
    push_bytes(stream_.data(), stream_.size());
    if (uncorrectable)
        ndsr_ |= kNdsrDbErr;
    else if (corrected)
        ndsr_ |= kNdsrSbErr;
    ndsr_ |= kNdsrRdDReq;
    phase_ = Phase::ReadData;
    emit(EventKind::Signal, NDSR, ndsr_ & kNdsrDefined, static_cast<uint32_t>(stream_.size()));
}

void NandController::take_write_data(uint64_t now) {
    Command& c = command_;
    const uint8_t* stream = fifo_.data();
    uint32_t to_chip = c.ecc ? c.page_bytes + c.spare_full : c.lane_bytes;
    lane_buffer_.resize(to_chip);
    for (unsigned lane = 0; lane < c.lanes; ++lane) {
        NandChip* chip = c.lane[lane];
        if (!chip) continue;
        if (c.lanes == 1)
            std::memcpy(lane_buffer_.data(), stream, c.lane_bytes);
        else
            for (uint32_t j = 0; j < c.lane_bytes; ++j) lane_buffer_[j] = stream[j * c.lanes + lane];
        // The spare bytes the host did not send stay erased.
        std::fill(lane_buffer_.begin() + c.lane_bytes, lane_buffer_.end(), 0xFF);
        if (c.ecc) ecc_compute(lane_buffer_.data(), c.page_bytes, lane_buffer_.data() + c.page_bytes + c.ecc_offset);
        chip->write_data(lane_buffer_.data(), to_chip, now);
    }
    fifo_.drop(c.transfer_bytes);
    if (c.dbc)
        for (NandChip* chip : c.lane)
            if (chip) chip->command(c.cmd2, now);
    start_busy_phase(now);
}

void NandController::complete() {
    const Command& c = command_;
    ndsr_ |= c.chip_select ? kNdsrCs1Cmdd : kNdsrCs0Cmdd;
    if (c.type == NandCommandType::Read || c.type == NandCommandType::Program)
        ndsr_ |= c.chip_select ? kNdsrCs1PageD : kNdsrCs0PageD;
    ndcr_ &= ~kNdcrNdRun;
    phase_ = Phase::Idle;
    emit(EventKind::Signal, NDSR, ndsr_ & kNdsrDefined);
}

uint32_t NandController::pop_word() {
    size_t available = fifo_.size();
    if (available >= 4) return fifo_.pop_word();
    emit(EventKind::SequenceError, NDDB, 0, static_cast<uint32_t>(available));
    uint32_t word = 0;
    for (unsigned i = 0; i < available; ++i) word |= uint32_t{fifo_.data()[i]} << (8 * i);
    fifo_.drop(available);
    return word;
}

void NandController::push_bytes(const uint8_t* bytes, size_t count) {
    // More than the buffer holds is lost.
    size_t room = fifo_.room();
    if (count > room) {
        emit(EventKind::SequenceError, NDDB, 0, static_cast<uint32_t>(count - room));  // FIFO full: lost
        count = room;
    }
    fifo_.push(bytes, count);
}

}  // namespace sim
