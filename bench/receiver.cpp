#include "receiver.h"

#include "bench_host.h"

#include <algorithm>

namespace bench {
namespace {

constexpr DWORD kStartTimeoutMs = 15000;
constexpr DWORD kStopTimeoutMs = 5000;
constexpr DWORD kPollMs = 5;

std::string mappingName() {
    static unsigned counter = 0;
    return "TralmoBenchReceiver-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
}

} // namespace

Receiver::Receiver(DWORD answerAfterMs) {
    const std::string name = mappingName();
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  sizeof(ReceiverMailbox), name.c_str());
    if (mapping_ != nullptr)
        mailbox_ = static_cast<ReceiverMailbox*>(
            MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, sizeof(ReceiverMailbox)));
    if (mailbox_ == nullptr) {
        error_ = "cannot share memory with the receiver";
        return;
    }
    std::string command = "\"" + besideProgram(kReceiverProgram) + "\" " + name + " " +
                          std::to_string(GetCurrentProcessId()) + " " +
                          std::to_string(answerAfterMs);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_)) {
        error_ = "cannot start " + std::string(kReceiverProgram);
        return;
    }
    const DWORD start = GetTickCount();
    while (mailbox_->ready == 0 && GetTickCount() - start < kStartTimeoutMs) {
        if (WaitForSingleObject(process_.hProcess, kPollMs) == WAIT_OBJECT_0)
            break;
    }
    if (mailbox_->ready == 0) {
        error_ = "the receiver did not come up";
        return;
    }
    window_ = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(mailbox_->window));
}

Receiver::~Receiver() {
    if (process_.hProcess != nullptr) {
        if (window_ != nullptr)
            PostMessageA(window_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.hProcess, kStopTimeoutMs) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, 1);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    if (mailbox_ != nullptr)
        UnmapViewOfFile(mailbox_);
    if (mapping_ != nullptr)
        CloseHandle(mapping_);
}

std::string Receiver::lastBlock() const {
    if (mailbox_ == nullptr)
        return {};
    const std::size_t kept = std::min<std::size_t>(mailbox_->lastSize, kReceiverCapacity);
    return std::string(reinterpret_cast<const char*>(mailbox_->last), kept);
}

bool Receiver::gotOnly(long before, const std::string& bytes) const {
    return received() == before + 1 && mailbox_->lastSize == bytes.size() && lastBlock() == bytes;
}

} // namespace bench
