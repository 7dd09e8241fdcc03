// The lean receiver as the bench sees it: a process of its own, started and
// ended with the object, whose deliveries the bench reads from shared memory.
#pragma once
#include <windows.h>

#include <string>

#include "receiver_mailbox.h"

namespace bench {

class Receiver {
  public:
    // `answerAfterMs`: how long it takes over each block before it answers,
    // as a Skype busy with other work does.
    explicit Receiver(DWORD answerAfterMs = 0);
    ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    bool ok() const { return window_ != nullptr; }
    const std::string& error() const { return error_; }
    HWND window() const { return window_; }

    // WM_COPYDATA messages taken so far.
    long received() const { return mailbox_ != nullptr ? mailbox_->received : 0; }
    // The last block, as far as it was kept.
    std::string lastBlock() const;
    // Exactly one block arrived since `before` was read, and it was `bytes`.
    bool gotOnly(long before, const std::string& bytes) const;

  private:
    HANDLE mapping_ = nullptr;
    ReceiverMailbox* mailbox_ = nullptr;
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
    std::string error_;
};

} // namespace bench
