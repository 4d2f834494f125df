// The GUI layer on the recording test platform: the form reader, timers,
// placement and the error report.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "ComObj.h"
#include "FormReader.h"
#include "Forms.h"
#include "TestPlatform.h"

namespace {

std::vector<AnsiString> Args(const TPlatformCall& c) { return c.args; }

std::vector<int64_t> TickTimes() {
    std::vector<int64_t> times;
    for (const TPlatformCall& c : TestPlatform::Calls({"WM_TIMER"})) times.push_back(c.time);
    return times;
}

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestPlatform::Reset();
        TestPlatform::SetModuleFileName("C:\\kestrin\\kestrin.exe");
    }
};

// ---- Form description text

TEST(FormTextTest, ReadsObjectsPropertiesAndValueKinds) {
    const TFormObject root = ParseFormText(
        "object Form1: TForm1\n"
        "  Caption = 'It''s'#13#10'two' + ' lines'\n"
        "  Font.Height = -11\n"
        "  Tag = $1F\n"
        "  Font.Style = [fsBold, fsItalic]\n"
        "  Empty = []\n"
        "  Enabled = False\n"
        "  object Label1: TLabel\n"
        "    Left = 48\n"
        "  end\n"
        "  object Timer1: TTimer\n"
        "  end\n"
        "end\n");
    EXPECT_EQ(root.name, "Form1");
    EXPECT_EQ(root.className, "TForm1");
    ASSERT_EQ(root.properties.size(), 6u);
    EXPECT_EQ(root.properties[0].first, "Caption");
    EXPECT_EQ(root.properties[0].second.AsString(), "It's\r\ntwo lines");
    EXPECT_EQ(root.properties[1].first, "Font.Height");
    EXPECT_EQ(root.properties[1].second.AsInteger(), -11);
    EXPECT_EQ(root.properties[2].second.AsInteger(), 31);
    EXPECT_EQ(root.properties[3].second.AsSet(), (std::vector<AnsiString>{"fsBold", "fsItalic"}));
    EXPECT_TRUE(root.properties[4].second.AsSet().empty());
    EXPECT_FALSE(root.properties[5].second.AsBoolean());
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[0].name, "Label1");
    EXPECT_EQ(root.children[0].properties[0].second.AsInteger(), 48);
    EXPECT_EQ(root.children[1].className, "TTimer");
    EXPECT_THROW(root.properties[0].second.AsInteger(), EReadError);
    EXPECT_THROW(root.properties[1].second.AsBoolean(), EReadError);
}

TEST(FormTextTest, MalformedTextNamesTheLine) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"object Form1: TForm1\n  Caption = 'open\nend\n", "Invalid form description (line 2)"},
        {"object Form1: TForm1\n  Left = ,\nend\n", "Invalid form description (line 2)"},
        {"object Form1: TForm1\n  object Label1: TLabel\n  end\n", "Invalid form description (line 4)"},  // at the end
        {"object Form1 TForm1\nend\n", "Invalid form description (line 1)"},
        {"object Form1: TForm1\nend\nend\n", "Invalid form description (line 3)"},
        {"object Form1: TForm1\n  Left = 99999999999\nend\n", "Invalid form description (line 2)"},
        {"object Form1: TForm1\n  Caption = #300\nend\n", "Invalid form description (line 2)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ParseFormText(c.text);
            ADD_FAILURE() << "no error";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

// A form read from a description given by the test.
class TTestForm : public TForm {
public:
    explicit TTestForm(TComponent* owner, const char* text = "object TestForm: TTestForm\nend\n") : TForm(owner) {
        BindField("Label1", Label1);
        BindField("Timer1", Timer1);
        BindMethod("FormShow", [this](TComponent*) { ++shows; });
        BindMethod("Tick", [this](TComponent*) { ++ticks; });
        ReadForm("TTESTFORM", text);
    }
    const char* ClassName() const override { return "TTestForm"; }
    TLabel* Label1 = nullptr;
    TTimer* Timer1 = nullptr;
    int shows = 0;
    int ticks = 0;
};

TEST_F(GuiTest, FormReadsItsDescriptionAndMakesTheWindow) {
    TApplication app;
    TTestForm form(&app,
                   "object TestForm: TTestForm\n"
                   "  Caption = 'Test'\n  BorderStyle = bsDialog\n  FormStyle = fsStayOnTop\n"
                   "  ClientWidth = 100\n  ClientHeight = 50\n  Color = clBtnFace\n"
                   "  Font.Name = 'Arial'\n  Font.Height = -13\n  Font.Style = [fsBold]\n  OnShow = FormShow\n"
                   "  object Label1: TLabel\n    Left = 1\n    Top = 2\n    Width = 3\n    Height = 4\n"
                   "    Caption = 'Hi'\n  end\n"
                   "  object Timer1: TTimer\n    Enabled = False\n    OnTimer = Tick\n  end\n"
                   "end\n");
    ASSERT_NE(form.Label1, nullptr);
    ASSERT_NE(form.Timer1, nullptr);
    EXPECT_EQ(form.Name(), "TestForm");
    EXPECT_EQ(form.Timer1->Name(), "Timer1");
    EXPECT_FALSE(form.Timer1->Enabled());
    EXPECT_EQ(form.Timer1->Interval(), 1000u);
    const auto calls = TestPlatform::Calls({"CreateMainWindow", "CreateLabel"});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(Args(calls[0]),
              (std::vector<AnsiString>{"Test", "100", "50", "0", "0", "dialog", "topmost", "0xFF00000F"}));
    EXPECT_EQ(Args(calls[1]), (std::vector<AnsiString>{IntToStr(form.Handle()), "Hi", "1", "2", "3", "4", "Arial",
                                                       "-13", "1", "0xFF000008", "B"}));
    form.Show();
    form.Show();
    EXPECT_EQ(form.shows, 1);  // OnShow runs only the first time
}

TEST_F(GuiTest, FormDescriptionFaultsRaise) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"object TestForm: TTestForm\n  Colour = 1\nend\n",
         "Error reading TestForm.Colour: Property Colour does not exist"},
        {"object TestForm: TTestForm\n  object Timer1: TTimer\n    Enabled = Maybe\n  end\nend\n",
         "Invalid property value"},
        {"object TestForm: TTestForm\n  object Timer1: TTimer\n    OnTimer = Missing\n  end\nend\n",
         "Invalid property value: no method Missing"},
        {"object TestForm: TTestForm\n  object Label1: TButton\n  end\nend\n", "Class TButton not found"},
        {"object TestForm: TTestForm\n  object Label1: TTimer\n  end\nend\n", "Field Label1 is not a TTimer"},
        {"object Other: TOtherForm\nend\n", "Form description TTESTFORM is for TOtherForm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TApplication app;
        try {
            TTestForm form(&app, c.text);
            ADD_FAILURE() << "no error";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_EQ(app.ComponentCount(), 0);  // the half-read form is gone with its components
    }
    TApplication app;
    EXPECT_THROW(TTestForm(&app, nullptr), EResNotFound);
}

TEST_F(GuiTest, DesktopCentringTruncatesTowardZero) {
    struct Case {
        int32_t screenWidth, screenHeight;
        int32_t x, y;
    };
    // The window is 100 x 50 inside a 6 x 25 frame: 106 x 75.
    const Case cases[] = {
        {1024, 768, 459, 346},
        {1025, 769, 459, 347},
        {100, 50, -3, -12},  // larger than the screen: negative, unclamped
        {101, 51, -2, -12},  // -5 / 2 and -24 / 2 truncate toward zero
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.screenWidth << "x" << c.screenHeight);
        TestPlatform::Reset();
        TestPlatform::SetVirtualScreenSize(c.screenWidth, c.screenHeight);
        TApplication app;
        TTestForm form(&app,
                       "object TestForm: TTestForm\n  BorderStyle = bsDialog\n  Position = poDesktopCenter\n"
                       "  ClientWidth = 100\n  ClientHeight = 50\n  Left = 7\n  Top = 8\nend\n");
        form.Show(swShowNormal);
        form.Show(swShowNormal);  // placed once only
        const auto moves = TestPlatform::Calls({"SetWindowPos"});
        ASSERT_EQ(moves.size(), 1u);
        EXPECT_EQ(Args(moves[0]), (std::vector<AnsiString>{IntToStr(form.Handle()), IntToStr(c.x), IntToStr(c.y)}));
    }
}

// ---- Timer

TEST_F(GuiTest, TimerPeriodsStartWhenEnabledAndMergeWhileBusy) {
    TApplication app;
    TTimer timer(nullptr);
    std::vector<int64_t> handled;
    timer.OnTimer = [&](TComponent* sender) {
        EXPECT_EQ(sender, &timer);
        handled.push_back(TestPlatform::Now());
        if (handled.size() == 2) TestPlatform::Advance(3000);  // a handler that takes 3 s
        if (handled.size() == 4) timer.SetEnabled(false);
    };
    TestPlatform::At(500, [&] { timer.SetEnabled(true); });
    TestPlatform::At(800, [&] { timer.SetEnabled(true); });  // already on: no fresh period
    while (GuiPlatform::GetAndDispatchMessage()) {
    }
    EXPECT_EQ(handled, (std::vector<int64_t>{1500, 2500, 5500, 6500}));
    EXPECT_EQ(TestPlatform::Calls({"SetTimer"}).size(), 1u);
    EXPECT_EQ(TestPlatform::LiveTimers(), 0);
    EXPECT_EQ(TestPlatform::Calls().back().name, "Stall");  // nothing left to happen
}

TEST_F(GuiTest, TimerIntervalAndDisabling) {
    TTimer timer(nullptr);
    int fired = 0;
    timer.OnTimer = [&](TComponent*) { ++fired; };
    timer.SetInterval(250);
    EXPECT_TRUE(TestPlatform::Calls({"SetTimer"}).empty());  // off until enabled
    timer.SetEnabled(true);
    TestPlatform::At(600, [&] { timer.SetInterval(1000); });  // a fresh period from 600
    TestPlatform::At(1700, [&] { timer.SetEnabled(false); });
    while (GuiPlatform::GetAndDispatchMessage()) {
    }
    EXPECT_EQ(TickTimes(), (std::vector<int64_t>{250, 500, 1600}));
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(TestPlatform::LiveTimers(), 0);
}

TEST_F(GuiTest, NoTimerLeftRaisesAndLeavesTheTimerOff) {
    TTimer timer(nullptr);
    TestPlatform::SetNoTimerLeft(true);
    try {
        timer.SetEnabled(true);
        ADD_FAILURE() << "no error";
    } catch (const EOutOfResources& e) {
        EXPECT_EQ(e.Message(), "Not enough timers available");
    }
    EXPECT_FALSE(timer.Enabled());
    TestPlatform::SetNoTimerLeft(false);
    timer.SetEnabled(true);  // a later try can succeed
    EXPECT_TRUE(timer.Enabled());
}

TEST_F(GuiTest, DestroyingARunningTimerKillsIt) {
    {
        TComponent owner(nullptr);
        auto* timer = new TTimer(&owner);
        timer->SetEnabled(true);
        EXPECT_EQ(TestPlatform::LiveTimers(), 1);
    }
    EXPECT_EQ(TestPlatform::LiveTimers(), 0);
}

// ---- Error report

TEST_F(GuiTest, HandlerErrorsAreShownAndTheLoopGoesOn) {
    struct Case {
        std::function<void()> raise;
        bool mainForm;
        std::vector<AnsiString> box;  // owner is filled in below ("form" or "0")
    };
    const AnsiString lastResort = "Exception %s in module kestrin.exe at 00000000.\r\n\r\n";
    const std::vector<Case> cases = {
        {[] { throw Exception("Failed"); }, true, {"form", "Failed.", "KESTRIN", "0x00000010"}},
        {[] { throw Exception("Failed."); }, true, {"form", "Failed.", "KESTRIN", "0x00000010"}},
        {[] { throw Exception("Failed!"); }, true, {"form", "Failed!", "KESTRIN", "0x00000010"}},
        {[] { throw Exception("a/b/"); }, true, {"form", "a/b/.", "KESTRIN", "0x00000010"}},
        {[] { throw Exception("Line\r\n"); }, true, {"form", "Line\r\n", "KESTRIN", "0x00000010"}},
        // ")" and a blank sort before ".": no dot after them.
        {[] { throw Exception("Failed (5)"); }, true, {"form", "Failed (5)", "KESTRIN", "0x00000010"}},
        {[] { throw Exception("Failed. "); }, true, {"form", "Failed. ", "KESTRIN", "0x00000010"}},
        {[] { throw Exception(""); }, true, {"form", "", "KESTRIN", "0x00000010"}},
        {[] { throw EOutOfResources("Not enough timers available"); },
         false,
         {"0", "Not enough timers available.", "KESTRIN", "0x00002010"}},
        {[] { throw std::runtime_error("not ours"); },
         true,
         {"0", Format(lastResort, {"std::runtime_error"}), "Application Error", "0x00002010"}},
        {[] { throw 42; }, true, {"0", Format(lastResort, {"int"}), "Application Error", "0x00002010"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box[1]);
        TestPlatform::Reset();
        TestPlatform::SetModuleFileName("C:\\kestrin\\kestrin.exe");
        TApplication app;
        app.SetTitle("KESTRIN");
        TTestForm* form = nullptr;
        if (c.mainForm) app.CreateForm(form);
        TTimer timer(nullptr);
        int ticks = 0;
        timer.OnTimer = [&](TComponent*) {
            if (++ticks == 1) c.raise();
            app.Terminate();
        };
        timer.SetEnabled(true);
        app.Run();
        EXPECT_EQ(ticks, 2);  // the loop went on after the report
        const auto boxes = TestPlatform::Calls({"MessageBoxA"});
        ASSERT_EQ(boxes.size(), 1u);
        std::vector<AnsiString> expected = c.box;
        if (expected[0] == "form") expected[0] = IntToStr(form->Handle());
        EXPECT_EQ(Args(boxes[0]), expected);
    }
}

// The last-resort report of an error that ends the start-up adds a dot to
// every message that does not already end in one, unlike the handler's box.
TEST_F(GuiTest, TheLastResortReportEndsTheMessageWithADot) {
    struct Case {
        AnsiString message, shown;
    };
    const Case cases[] = {{"Failed (5)", "Failed (5)."}, {"Failed. ", "Failed. ."}, {"Failed.", "Failed."}, {"", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TestPlatform::Reset();
        TestPlatform::SetModuleFileName("C:\\kestrin\\kestrin.exe");
        try {
            throw EOutOfResources(c.message);
        } catch (...) {
            ShowUnhandledException();
        }
        const auto boxes = TestPlatform::Calls({"MessageBoxA"});
        ASSERT_EQ(boxes.size(), 1u);
        const AnsiString text = "Exception EOutOfResources in module kestrin.exe at 00000000.\r\n" + c.shown + "\r\n";
        EXPECT_EQ(Args(boxes[0]), (std::vector<AnsiString>{"0", text, "Application Error", "0x00002010"}));
    }
}

}  // namespace
