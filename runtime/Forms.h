// The GUI layer of the class library: the application object, forms read
// from their form description, labels, timers and fonts, and the error
// report for errors that escape an event handler.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "Classes.h"
#include "FormReader.h"
#include "GuiPlatform.h"
#include "SysUtils.h"

class TForm;

// Colours: negative values name a system colour.
using TColor = int32_t;
constexpr TColor clWindowText = static_cast<TColor>(0xFF000008u);
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000Fu);

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum class TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum class TPosition {
    poDesigned,
    poDefault,
    poDefaultPosOnly,
    poDefaultSizeOnly,
    poScreenCenter,
    poDesktopCenter,
    poMainFormCenter,
    poOwnerFormCenter
};
enum class TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };

class TFont : public TPersistent {
public:
    const char* ClassName() const override { return "TFont"; }

    const AnsiString& Name() const { return name_; }
    void SetName(const AnsiString& v) { name_ = v; }
    // Pixels; negative: the character height without internal leading.
    int32_t Height() const { return height_; }
    void SetHeight(int32_t v) { height_ = v; }
    int32_t Charset() const { return charset_; }
    void SetCharset(int32_t v) { charset_ = v; }
    TColor Color() const { return color_; }
    void SetColor(TColor v) { color_ = v; }
    bool HasStyle(TFontStyle s) const { return (style_ & Bit(s)) != 0; }
    void SetStyle(std::initializer_list<TFontStyle> styles);
    void IncludeStyle(TFontStyle s) { style_ |= Bit(s); }

private:
    static unsigned Bit(TFontStyle s) { return 1u << static_cast<unsigned>(s); }
    AnsiString name_ = "MS Sans Serif";
    int32_t height_ = -11;
    int32_t charset_ = 1;  // DEFAULT_CHARSET
    TColor color_ = clWindowText;
    unsigned style_ = 0;
};

// A control placed on a form, in client coordinates.
class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner) : TComponent(owner) {}
    const char* ClassName() const override { return "TControl"; }

    int32_t Left() const { return left_; }
    void SetLeft(int32_t v) { left_ = v; }
    int32_t Top() const { return top_; }
    void SetTop(int32_t v) { top_ = v; }
    int32_t Width() const { return width_; }
    void SetWidth(int32_t v) { width_ = v; }
    int32_t Height() const { return height_; }
    void SetHeight(int32_t v) { height_ = v; }
    const AnsiString& Caption() const { return caption_; }
    void SetCaption(const AnsiString& v) { caption_ = v; }

private:
    int32_t left_ = 0;
    int32_t top_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    AnsiString caption_;
};

// A static text in the font of the form that owns it.
class TLabel : public TControl {
public:
    explicit TLabel(TComponent* owner) : TControl(owner) {}
    const char* ClassName() const override { return "TLabel"; }
};

// Periodic event on the GUI thread, off until enabled. Runs while Enabled
// and Interval > 0; enabling starts a fresh period, setting the state it already has does
// nothing, and a tick that falls due while the thread is busy is handled
// once when it is free again. Enabling raises EOutOfResources "Not enough
// timers available" when the platform has no timer left (Enabled then
// stays false). An error that escapes OnTimer goes to the application's
// error report.
class TTimer : public TComponent, private TTimerTarget {
public:
    explicit TTimer(TComponent* owner) : TComponent(owner) {}
    ~TTimer() override = default;
    const char* ClassName() const override { return "TTimer"; }

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    uint32_t Interval() const { return interval_; }
    void SetInterval(uint32_t value);
    TNotifyEvent OnTimer;

private:
    // One platform timer, killed when it goes.
    class TPlatformTimer {
    public:
        TPlatformTimer() = default;
        ~TPlatformTimer() { Stop(); }
        TPlatformTimer(const TPlatformTimer&) = delete;
        TPlatformTimer& operator=(const TPlatformTimer&) = delete;
        bool Start(uint32_t interval, TTimerTarget* target);
        void Stop();

    private:
        uintptr_t id_ = 0;
    };

    void UpdateTimer();
    void TimerFired() noexcept override;

    bool enabled_ = false;
    uint32_t interval_ = 1000;
    TPlatformTimer timer_;
};

// How a form description's classes are made and how their stored
// properties are applied. ReadProperty returns false for a property the
// class does not have; `root` is the form being read (for event names).
struct TComponentClass {
    std::function<TComponent*(TComponent* owner)> create;
    std::function<bool(TComponent& component, const AnsiString& property, const TFormValue& value, TForm& root)>
        readProperty;
};
// Makes a class known to the form reader; TLabel and TTimer always are.
void RegisterComponentClass(const AnsiString& className, TComponentClass componentClass);

// A top-level window with the components of its form description.
class TForm : public TComponent, private TWindowEvents {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;
    const char* ClassName() const override { return "TForm"; }

    const AnsiString& Caption() const { return caption_; }
    void SetCaption(const AnsiString& v) { caption_ = v; }
    TFormBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TFormBorderStyle v) { borderStyle_ = v; }
    TFormStyle FormStyle() const { return formStyle_; }
    void SetFormStyle(TFormStyle v) { formStyle_ = v; }
    TPosition Position() const { return position_; }
    void SetPosition(TPosition v) { position_ = v; }
    int32_t ClientWidth() const { return clientWidth_; }
    void SetClientWidth(int32_t v) { clientWidth_ = v; }
    int32_t ClientHeight() const { return clientHeight_; }
    void SetClientHeight(int32_t v) { clientHeight_ = v; }
    int32_t Left() const { return left_; }
    void SetLeft(int32_t v) { left_ = v; }
    int32_t Top() const { return top_; }
    void SetTop(int32_t v) { top_ = v; }
    TColor Color() const { return color_; }
    void SetColor(TColor v) { color_ = v; }
    TFont& Font() { return font_; }
    int32_t PixelsPerInch() const { return pixelsPerInch_; }
    void SetPixelsPerInch(int32_t v) { pixelsPerInch_ = v; }
    int32_t TextHeight() const { return textHeight_; }
    void SetTextHeight(int32_t v) { textHeight_ = v; }
    // Runs once, when the form is first about to become visible.
    TNotifyEvent OnShow;

    // The native window, made on first use (raises EOutOfResources "Error
    // creating window" when the platform cannot make it).
    TWindowHandle Handle();
    bool HandleAllocated() const { return handle_ != 0; }

    // Shows the form: the first time runs OnShow (an error of it goes to the
    // error report), then places the window once and shows it.
    void Show(int32_t showCommand = swShowNormal);
    // Only a taskbar entry; the first Show happens when the user restores it.
    void ShowMinimizedUntilRestored();
    // As the close button: closing the main form ends the application.
    void Close();

    // For the form reader: the stored properties of the form itself.
    virtual bool ReadProperty(const AnsiString& property, const TFormValue& value);
    // An event handler named in the form description; raises EReadError
    // when the form has none of that name.
    TNotifyEvent FindMethod(const AnsiString& name) const;

protected:
    // Reads the form description `text` of the resource `resourceName`
    // (such as "TFORM1"; null text: EResNotFound): the form's own
    // properties, then each component in the order stored, with its
    // properties in the order stored; then makes the window.
    void ReadForm(const AnsiString& resourceName, const char* text);
    // Fields and handlers that the description refers to by name.
    template <class T>
    void BindField(const AnsiString& name, T*& field) {
        fields_[UpperCase(name)] = [&field](TComponent* c) {
            field = dynamic_cast<T*>(c);
            return field != nullptr;
        };
    }
    void BindMethod(const AnsiString& name, TNotifyEvent handler) { methods_[UpperCase(name)] = std::move(handler); }

private:
    void WindowCloseRequested() noexcept override;
    bool WindowRestoreRequested() noexcept override;
    void PlaceOnce();

    AnsiString caption_;
    TFormBorderStyle borderStyle_ = TFormBorderStyle::bsSizeable;
    TFormStyle formStyle_ = TFormStyle::fsNormal;
    TPosition position_ = TPosition::poDesigned;
    int32_t clientWidth_ = 0;
    int32_t clientHeight_ = 0;
    int32_t left_ = 0;
    int32_t top_ = 0;
    TColor color_ = clBtnFace;
    TFont font_;
    int32_t pixelsPerInch_ = 96;
    int32_t textHeight_ = 13;

    TWindowHandle handle_ = 0;
    bool shown_ = false;
    bool waitingForRestore_ = false;
    std::map<AnsiString, std::function<bool(TComponent*)>> fields_;
    std::map<AnsiString, TNotifyEvent> methods_;
};

// The program's application object: COM for the GUI thread, the title, the
// forms and the message loop. There is one; `Application` points to it
// while it lives.
class TApplication : public TComponent {
public:
    explicit TApplication(TComponent* owner = nullptr);
    // Destroys the forms, then uninitialises COM when Initialize did
    // initialise it.
    ~TApplication() override;
    const char* ClassName() const override { return "TApplication"; }

    // Initialises COM for this thread (single-threaded apartment); a failure
    // is not reported.
    void Initialize();
    const AnsiString& Title() const { return title_; }
    void SetTitle(const AnsiString& v) { title_ = v; }

    // Creates a form owned by the application; the first becomes the main form.
    template <class T>
    void CreateForm(T*& reference) {
        T* form = new T(this);
        reference = form;
        if (!mainForm_) mainForm_ = form;
    }
    TForm* MainForm() const { return mainForm_; }

    // Shows the main form as the process's start-up show command asks (7:
    // not until the user restores it; 3: maximised; else normal) and
    // dispatches messages until termination.
    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }

    // The error report for the error being handled; call it from a catch
    // block. Class-library errors go to ShowException, any other object to
    // the last-resort box.
    void HandleException(TComponent* sender);
    // The message ("." added when it is not empty and its last character
    // sorts after "."), captioned with the title, stop icon, owned by the
    // application.
    void ShowException(const Exception& error);

private:
    AnsiString title_;
    TForm* mainForm_ = nullptr;
    bool terminated_ = false;
    bool comInitialized_ = false;
};

extern TApplication* Application;

// The last-resort report of the error being handled (call it from a catch
// block): "Exception <class> in module <program> at <address>.\r\n<message>
// <dot>\r\n", caption "Application Error", task-modal, stop icon, no owner.
// For an object outside the Exception hierarchy the message part is empty.
void ShowUnhandledException();
// The report of an error that escapes an event handler: the application's,
// or the last-resort box when there is no application.
void HandleEventError(TComponent* sender) noexcept;
