#include "Forms.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "RunLog.h"

TApplication* Application = nullptr;

// ---- TFont

void TFont::SetStyle(std::initializer_list<TFontStyle> styles) {
    style_ = 0;
    for (TFontStyle s : styles) style_ |= Bit(s);
}

// ---- TTimer

bool TTimer::TPlatformTimer::Start(uint32_t interval, TTimerTarget* target) {
    Stop();
    id_ = GuiPlatform::SetTimer(interval, target);
    return id_ != 0;
}

void TTimer::TPlatformTimer::Stop() {
    if (id_ != 0) {
        GuiPlatform::KillTimer(id_);
        id_ = 0;
    }
}

void TTimer::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    UpdateTimer();
}

void TTimer::SetInterval(uint32_t value) {
    if (value == interval_) return;
    interval_ = value;
    UpdateTimer();
}

void TTimer::UpdateTimer() {
    timer_.Stop();
    if (enabled_ && interval_ > 0 && !timer_.Start(interval_, this)) {
        enabled_ = false;
        throw EOutOfResources("Not enough timers available");
    }
}

void TTimer::TimerFired() noexcept {
    try {
        if (OnTimer) OnTimer(this);
    } catch (...) {
        HandleEventError(this);
    }
}

// ---- Form description classes

namespace {

std::map<AnsiString, TComponentClass>& ClassRegistry();

AnsiString PropertyError(const AnsiString& object, const AnsiString& property) {
    return "Error reading " + object + "." + property + ": Property " + property + " does not exist";
}

const char* const kBorderStyles[] = {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"};
const char* const kFormStyles[] = {"fsNormal", "fsMDIChild", "fsMDIForm", "fsStayOnTop"};
const char* const kPositions[] = {"poDesigned",     "poDefault",       "poDefaultPosOnly", "poDefaultSizeOnly",
                                  "poScreenCenter", "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"};
const char* const kFontStyles[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};

struct TNamedInteger {
    const char* name;
    int32_t value;
};
const TNamedInteger kColors[] = {
    {"clWindowText", clWindowText}, {"clBtnFace", clBtnFace}, {"clBlack", 0x000000}, {"clWhite", 0xFFFFFF}};
const TNamedInteger kCharsets[] = {{"ANSI_CHARSET", 0}, {"DEFAULT_CHARSET", 1}, {"SYMBOL_CHARSET", 2}};

template <size_t N>
int32_t IntegerOrName(const TFormValue& value, const TNamedInteger (&names)[N]) {
    if (value.kind == TFormValue::Kind::Integer) return value.AsInteger();
    const AnsiString& name = value.AsIdentifier();
    for (const TNamedInteger& n : names)
        if (SameText(name, n.name)) return n.value;
    throw EReadError("Invalid property value");
}

bool ReadControlProperty(TControl& control, const AnsiString& property, const TFormValue& value) {
    if (SameText(property, "Left")) control.SetLeft(value.AsInteger());
    else if (SameText(property, "Top")) control.SetTop(value.AsInteger());
    else if (SameText(property, "Width")) control.SetWidth(value.AsInteger());
    else if (SameText(property, "Height")) control.SetHeight(value.AsInteger());
    else if (SameText(property, "Caption")) control.SetCaption(value.AsString());
    else return false;
    return true;
}

bool ReadTimerProperty(TTimer& timer, const AnsiString& property, const TFormValue& value, TForm& root) {
    if (SameText(property, "Enabled")) timer.SetEnabled(value.AsBoolean());
    else if (SameText(property, "Interval")) {
        const int32_t interval = value.AsInteger();
        if (interval < 0) throw EReadError("Invalid property value");
        timer.SetInterval(static_cast<uint32_t>(interval));
    } else if (SameText(property, "OnTimer")) timer.OnTimer = root.FindMethod(value.AsIdentifier());
    else return false;
    return true;
}

std::map<AnsiString, TComponentClass>& ClassRegistry() {
    static std::map<AnsiString, TComponentClass> registry = {
        {"TLABEL",
         {[](TComponent* owner) -> TComponent* { return new TLabel(owner); },
          [](TComponent& c, const AnsiString& p, const TFormValue& v, TForm&) {
              return ReadControlProperty(static_cast<TLabel&>(c), p, v);
          }}},
        {"TTIMER",
         {[](TComponent* owner) -> TComponent* { return new TTimer(owner); },
          [](TComponent& c, const AnsiString& p, const TFormValue& v, TForm& root) {
              return ReadTimerProperty(static_cast<TTimer&>(c), p, v, root);
          }}},
    };
    return registry;
}

}  // namespace

void RegisterComponentClass(const AnsiString& className, TComponentClass componentClass) {
    ClassRegistry()[UpperCase(className)] = std::move(componentClass);
}

// ---- TForm

TForm::TForm(TComponent* owner) : TComponent(owner) {}

TForm::~TForm() {
    if (handle_ != 0) GuiPlatform::DestroyWindow(handle_);
}

bool TForm::ReadProperty(const AnsiString& property, const TFormValue& value) {
    if (SameText(property, "Caption")) SetCaption(value.AsString());
    else if (SameText(property, "BorderStyle"))
        SetBorderStyle(EnumValue<TFormBorderStyle>(value.AsIdentifier(), kBorderStyles));
    else if (SameText(property, "FormStyle")) SetFormStyle(EnumValue<TFormStyle>(value.AsIdentifier(), kFormStyles));
    else if (SameText(property, "Position")) SetPosition(EnumValue<TPosition>(value.AsIdentifier(), kPositions));
    else if (SameText(property, "ClientWidth")) SetClientWidth(value.AsInteger());
    else if (SameText(property, "ClientHeight")) SetClientHeight(value.AsInteger());
    else if (SameText(property, "Left")) SetLeft(value.AsInteger());
    else if (SameText(property, "Top")) SetTop(value.AsInteger());
    else if (SameText(property, "Color")) SetColor(IntegerOrName(value, kColors));
    else if (SameText(property, "Font.Name")) font_.SetName(value.AsString());
    else if (SameText(property, "Font.Height")) font_.SetHeight(value.AsInteger());
    else if (SameText(property, "Font.Charset")) font_.SetCharset(IntegerOrName(value, kCharsets));
    else if (SameText(property, "Font.Color")) font_.SetColor(IntegerOrName(value, kColors));
    else if (SameText(property, "Font.Style")) {
        font_.SetStyle({});
        for (const AnsiString& item : value.AsSet()) font_.IncludeStyle(EnumValue<TFontStyle>(item, kFontStyles));
    } else if (SameText(property, "PixelsPerInch")) SetPixelsPerInch(value.AsInteger());
    else if (SameText(property, "TextHeight")) SetTextHeight(value.AsInteger());
    else if (SameText(property, "OnShow")) OnShow = FindMethod(value.AsIdentifier());
    else return false;
    return true;
}

TNotifyEvent TForm::FindMethod(const AnsiString& name) const {
    const auto it = methods_.find(UpperCase(name));
    if (it == methods_.end()) throw EReadError("Invalid property value: no method " + name);
    return it->second;
}

void TForm::ReadForm(const AnsiString& resourceName, const char* text) {
    if (!text) throw EResNotFound("Resource " + resourceName + " not found");
    const TFormObject root = ParseFormText(text);
    if (!SameText(root.className, ClassName()))
        throw EReadError("Form description " + resourceName + " is for " + root.className);
    SetName(root.name);
    for (const auto& [property, value] : root.properties)
        if (!ReadProperty(property, value)) throw EReadError(PropertyError(root.name, property));
    for (const TFormObject& child : root.children) {
        const auto cls = ClassRegistry().find(UpperCase(child.className));
        if (cls == ClassRegistry().end()) throw EReadError("Class " + child.className + " not found");
        // Owned from here on: an error below leaves it to the form to free.
        TComponent* component = cls->second.create(this);
        component->SetName(child.name);
        const auto field = fields_.find(UpperCase(child.name));
        if (field != fields_.end() && !field->second(component))
            throw EReadError("Field " + child.name + " is not a " + child.className);
        for (const auto& [property, value] : child.properties)
            if (!cls->second.readProperty(*component, property, value, *this))
                throw EReadError(PropertyError(child.name, property));
    }
    Handle();
}

TWindowHandle TForm::Handle() {
    if (handle_ != 0) return handle_;
    TWindowParams params;
    params.caption = caption_;
    params.clientWidth = clientWidth_;
    params.clientHeight = clientHeight_;
    params.left = left_;
    params.top = top_;
    params.dialogFrame = borderStyle_ == TFormBorderStyle::bsDialog;
    params.stayOnTop = formStyle_ == TFormStyle::fsStayOnTop;
    params.color = color_;
    const TWindowHandle handle = GuiPlatform::CreateMainWindow(params, this);
    if (handle == 0) throw EOutOfResources("Error creating window");
    handle_ = handle;
    for (int i = 0; i < ComponentCount(); ++i) {
        const auto* label = dynamic_cast<const TLabel*>(Components(i));
        if (!label) continue;
        TLabelParams lp;
        lp.caption = label->Caption();
        lp.left = label->Left();
        lp.top = label->Top();
        lp.width = label->Width();
        lp.height = label->Height();
        lp.fontName = font_.Name();
        lp.fontHeight = font_.Height();
        lp.fontCharset = font_.Charset();
        lp.fontColor = font_.Color();
        lp.bold = font_.HasStyle(TFontStyle::fsBold);
        lp.italic = font_.HasStyle(TFontStyle::fsItalic);
        lp.underline = font_.HasStyle(TFontStyle::fsUnderline);
        lp.strikeOut = font_.HasStyle(TFontStyle::fsStrikeOut);
        if (!GuiPlatform::CreateLabel(handle_, lp)) throw EOutOfResources("Error creating window");
    }
    return handle_;
}

void TForm::Show(int32_t showCommand) {
    const TWindowHandle handle = Handle();
    waitingForRestore_ = false;
    if (!shown_) {
        shown_ = true;
        try {
            if (OnShow) OnShow(this);
        } catch (...) {
            HandleEventError(this);
        }
        PlaceOnce();
    }
    GuiPlatform::ShowWindow(handle, showCommand);
    TRunLog::Write("window shown" + AnsiString(showCommand == swShowMaximized ? " maximised" : ""));
}

void TForm::ShowMinimizedUntilRestored() {
    const TWindowHandle handle = Handle();
    waitingForRestore_ = !shown_;
    GuiPlatform::ShowWindow(handle, swShowMinNoActive);
    TRunLog::Write("window minimised, waiting for the user to restore it");
}

void TForm::PlaceOnce() {
    if (position_ != TPosition::poDesktopCenter) return;
    int32_t screenWidth = 0, screenHeight = 0, width = 0, height = 0;
    GuiPlatform::GetVirtualScreenSize(screenWidth, screenHeight);
    GuiPlatform::GetWindowSize(handle_, width, height);
    // Centred by integer division, which truncates toward zero (-5 / 2 is
    // -2); a window larger than the screen gets a negative position and is
    // not clamped to the screen.
    left_ = (screenWidth - width) / 2;
    top_ = (screenHeight - height) / 2;
    GuiPlatform::SetWindowPos(handle_, left_, top_);
}

void TForm::Close() {
    if (Application && Application->MainForm() == this) Application->Terminate();
    else if (handle_ != 0) GuiPlatform::ShowWindow(handle_, swHide);
}

void TForm::WindowCloseRequested() noexcept {
    try {
        TRunLog::Write("window closed by the user");
        Close();
    } catch (...) {
        HandleEventError(this);
    }
}

bool TForm::WindowRestoreRequested() noexcept {
    if (!waitingForRestore_) return false;
    try {
        Show(swShowNormal);
    } catch (...) {
        HandleEventError(this);
    }
    return true;
}

// ---- TApplication

TApplication::TApplication(TComponent* owner) : TComponent(owner) { Application = this; }

TApplication::~TApplication() {
    DestroyComponents();
    if (comInitialized_) GuiPlatform::CoUninitialize();
    if (Application == this) Application = nullptr;
}

void TApplication::Initialize() {
    if (comInitialized_) return;
    // S_OK and S_FALSE both take a reference that CoUninitialize gives back.
    comInitialized_ = GuiPlatform::CoInitialize() >= 0;
}

void TApplication::Run() {
    if (mainForm_) {
        const int32_t command = GuiPlatform::StartupShowCommand();
        if (command == swShowMinNoActive) mainForm_->ShowMinimizedUntilRestored();
        else mainForm_->Show(command == swShowMaximized ? swShowMaximized : swShowNormal);
    }
    while (!terminated_)
        if (!GuiPlatform::GetAndDispatchMessage()) terminated_ = true;
}

void TApplication::Terminate() { GuiPlatform::PostQuitMessage(0); }

namespace {

AnsiString CurrentExceptionTypeName() {
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (!type) return "Exception";
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status),
                                                     std::free);
    return status == 0 && demangled ? AnsiString(demangled.get()) : AnsiString(type->name());
}

AnsiString ExtractFileName(const AnsiString& path) {
    const size_t cut = path.find_last_of("\\:/");
    return cut == AnsiString::npos ? path : path.substr(cut + 1);
}

void ShowLastResortBox(const AnsiString& className, const AnsiString& message, const AnsiString& dot) {
    // A C++ exception carries no fault address, so none is claimed.
    const AnsiString text = Format(
        "Exception %s in module %s at %p.\r\n%s%s\r\n",
        {className, ExtractFileName(GuiPlatform::ModuleFileName()), static_cast<const void*>(nullptr), message, dot});
    TRunLog::Write("error box: " + text);
    GuiPlatform::MessageBoxA(0, text, "Application Error", mbOk | mbIconError | mbTaskModal);
}

}  // namespace

void TApplication::HandleException(TComponent* /*sender*/) {
    try {
        throw;
    } catch (const Exception& error) {
        ShowException(error);
    } catch (...) {
        ShowLastResortBox(CurrentExceptionTypeName(), "", "");
    }
}

void TApplication::ShowException(const Exception& error) {
    AnsiString text = error.Message();
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    // Owned by the main window, which the box disables while it is open;
    // without one, task-modal disables the thread's windows instead.
    const TWindowHandle owner = mainForm_ && mainForm_->HandleAllocated() ? mainForm_->Handle() : 0;
    TRunLog::Write("error box: " + text);
    GuiPlatform::MessageBoxA(owner, text, title_, mbOk | mbIconError | (owner == 0 ? mbTaskModal : 0u));
}

void ShowUnhandledException() {
    try {
        throw;
    } catch (const Exception& error) {
        const AnsiString& message = error.Message();
        ShowLastResortBox(error.ClassName(), message, !message.empty() && message.back() != '.' ? "." : "");
    } catch (...) {
        ShowLastResortBox(CurrentExceptionTypeName(), "", "");
    }
}

void HandleEventError(TComponent* sender) noexcept {
    try {
        if (Application) Application->HandleException(sender);
        else ShowUnhandledException();
    } catch (...) {
        // The report itself failed; nothing is left to tell.
    }
}
