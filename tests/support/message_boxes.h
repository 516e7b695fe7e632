// Every message box the module's observer hears while a recorder lives: its
// caption, text, type flags and the button that answered it.
#pragma once
#include <mutex>
#include <string>
#include <vector>

namespace testing_support {

struct MessageBoxSeen {
    std::u16string caption;
    std::u16string text;
    unsigned flags;
    int answer;
};

class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;
    std::vector<MessageBoxSeen> boxes() const;

private:
    mutable std::mutex mutex_;
    std::vector<MessageBoxSeen> boxes_;
};

}  // namespace testing_support
