// TIdBaseComponent and TIdComponent: status notifications, work events and
// membership in the process-wide socket stack.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>

#include "../runtime/Classes.h"

// The kinds of status an OnStatus handler is told about. hsStatusText carries
// free text ("Chunk Started" before a chunked body). The three ftp kinds
// complete the set a handler may name; this client never reports them.
enum class TIdStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

enum class TWorkMode { wmRead, wmWrite };

using TIdStatusEvent = std::function<void(TComponent* sender, TIdStatus status, const AnsiString& statusText)>;
using TWorkBeginEvent = std::function<void(TComponent* sender, TWorkMode mode, int64_t workCountMax)>;
using TWorkEvent = std::function<void(TComponent* sender, TWorkMode mode, int64_t workCount)>;
using TWorkEndEvent = std::function<void(TComponent* sender, TWorkMode mode)>;

class TIdBaseComponent : public TComponent {
public:
    explicit TIdBaseComponent(TComponent* owner) : TComponent(owner) {}
    const char* ClassName() const override { return "TIdBaseComponent"; }
};

// Every TIdComponent joins the shared socket stack while it lives: the first
// one in the process creates it (which may raise), the last one frees it.
class TIdComponent : public TIdBaseComponent {
public:
    explicit TIdComponent(TComponent* owner);
    ~TIdComponent() override;
    const char* ClassName() const override { return "TIdComponent"; }

    TIdStatusEvent OnStatus;
    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;

    virtual void StartWork(TWorkMode mode, int64_t workCountMax);
    virtual void AddWork(TWorkMode mode, int64_t count);
    virtual void FinishWork(TWorkMode mode);

    // Does nothing unless OnStatus is assigned; otherwise formats the
    // status's text with the arguments (one empty text when there are none).
    void ReportStatus(TIdStatus status, std::initializer_list<FormatArg> args = {});

    static const char* StatusFormat(TIdStatus status);

private:
    struct WorkRecord {
        int nesting = 0;
        int64_t max = 0;
        int64_t total = 0;
    };
    WorkRecord& Work(TWorkMode mode) { return work_[mode == TWorkMode::wmRead ? 0 : 1]; }
    WorkRecord work_[2];
};

// Brackets a piece of work: StartWork now, FinishWork when the scope ends,
// also when the work raises; `after`, when given, runs right after
// FinishWork, even when its handler raises. On the normal path an error of
// the OnWorkEnd handler reaches the caller; while an error is already on its
// way, that first error wins.
class TIdWorkScope {
public:
    TIdWorkScope(TIdComponent& component, TWorkMode mode, int64_t workCountMax, std::function<void()> after = {})
        : component_(component), mode_(mode), after_(std::move(after)) {
        component_.StartWork(mode_, workCountMax);
    }
    ~TIdWorkScope() noexcept(false) {
        if (std::uncaught_exceptions() > errors_) {
            try {
                Finish();
            } catch (...) {
            }
        } else {
            Finish();
        }
    }
    TIdWorkScope(const TIdWorkScope&) = delete;
    TIdWorkScope& operator=(const TIdWorkScope&) = delete;

private:
    void Finish() {
        try {
            component_.FinishWork(mode_);
        } catch (...) {
            if (after_) after_();
            throw;
        }
        if (after_) after_();
    }

    TIdComponent& component_;
    TWorkMode mode_;
    std::function<void()> after_;
    int errors_ = std::uncaught_exceptions();
};
