#include "tests/support/message_boxes.h"

#include "module/observer.h"

namespace testing_support {

MessageBoxRecorder::MessageBoxRecorder() {
    sim::observer().message_box = [this](const std::u16string& caption, const std::u16string& text, unsigned flags,
                                         int answer) {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back({caption, text, flags, answer});
    };
}

MessageBoxRecorder::~MessageBoxRecorder() { sim::observer().message_box = nullptr; }

std::vector<MessageBoxSeen> MessageBoxRecorder::boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

}  // namespace testing_support
