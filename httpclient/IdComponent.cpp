#include "IdComponent.h"

#include "IdStack.h"

TIdComponent::TIdComponent(TComponent* owner) : TIdBaseComponent(owner) { JoinSharedStack(); }

TIdComponent::~TIdComponent() { LeaveSharedStack(); }

void TIdComponent::StartWork(TWorkMode mode, int64_t workCountMax) {
    WorkRecord& w = Work(mode);
    if (++w.nesting == 1) {
        w.max = workCountMax;
        w.total = 0;
        if (OnWorkBegin) OnWorkBegin(this, mode, workCountMax);
    }
}

void TIdComponent::AddWork(TWorkMode mode, int64_t count) {
    WorkRecord& w = Work(mode);
    if (w.nesting < 1) return;
    w.total += count;
    if (OnWork) OnWork(this, mode, w.total);
}

void TIdComponent::FinishWork(TWorkMode mode) {
    WorkRecord& w = Work(mode);
    // The count goes down also when the handler raises; otherwise the
    // record would stay nested and later work would never be reported.
    struct Leave {
        int& nesting;
        ~Leave() { --nesting; }
    } leave{w.nesting};
    if (w.nesting == 1 && OnWorkEnd) OnWorkEnd(this, mode);
}

const char* TIdComponent::StatusFormat(TIdStatus status) {
    switch (status) {
    case TIdStatus::hsResolving: return "Resolving hostname %s.";
    case TIdStatus::hsConnecting: return "Connecting to %s.";
    case TIdStatus::hsConnected: return "Connected.";
    case TIdStatus::hsDisconnecting: return "Disconnecting.";
    case TIdStatus::hsDisconnected: return "Disconnected.";
    default: return "%s";
    }
}

void TIdComponent::ReportStatus(TIdStatus status, std::initializer_list<FormatArg> args) {
    if (!OnStatus) return;
    const AnsiString text = args.size() == 0 ? Format(StatusFormat(status), {""}) : Format(StatusFormat(status), args);
    OnStatus(this, status, text);
}
