// The animated picture and hyperlink controls on the real window system:
// OLE's picture loader decodes the frames the control rebuilds, and a link
// binds to a control of a real dialog.
#include "controls/HyperLink.h"
#include "controls/PictureEx.h"
#include "platform/Wnd.h"
#include "platform/win32/Win32Ui.h"
#include "res/resource.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

// The main window's template, with the test's own initialisation; it ends
// itself once the check has run.
class HostDialog : public CDialog {
public:
    HostDialog(port::Ui& ui, std::function<void(port::WindowHandle)> check)
        : CDialog(ui, IDD_VESK_DIALOG), m_check(std::move(check)) {}

protected:
    bool OnInitDialog() override {
        m_check(m_hWnd);
        EndDialog(1);
        return true;
    }

private:
    std::function<void(port::WindowHandle)> m_check;
};

port::Size ToPixels(port::Size himetric, port::Size ppi) {
    return port::Size{
        static_cast<int>((static_cast<long long>(himetric.cx) * ppi.cx + 1270) / 2540),
        static_cast<int>((static_cast<long long>(himetric.cy) * ppi.cy + 1270) / 2540)};
}

TEST(ControlsWin32, OlePictureLoaderDecodesTheRebuiltFrames) {
    port::win32::Win32Ui ui;
    const auto hosting = ui.EnableControlHosting();
    ASSERT_NE(hosting, nullptr);
    const struct {
        int id;
        port::Size size;
        std::size_t frames;
    } cases[] = {{IDR_MAIN_GIF, {48, 32}, 12}, {IDR_OPTIONS_GIF, {49, 29}, 15}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        HostDialog host(ui, [&](port::WindowHandle dialog) {
            CPictureEx picture(ui);
            ASSERT_TRUE(picture.SubclassDlgItem(IDC_PICTURE, dialog));
            ASSERT_TRUE(picture.LoadPicture(c.id));
            EXPECT_EQ(picture.GetPictureSize(), c.size);
            const port::Rect rect = ui.GetWindowRect(ui.GetItem(dialog, IDC_PICTURE));
            EXPECT_EQ(rect.Width(), c.size.cx);
            EXPECT_EQ(rect.Height(), c.size.cy);
            ASSERT_EQ(picture.GetFrames().size(), c.frames);
            for (const GifFrame& frame : picture.GetFrames()) {
                ASSERT_NE(frame.picture, nullptr);
                EXPECT_EQ(ToPixels(frame.picture->HimetricSize(), ui.ScreenPixelsPerInch()),
                          c.size);
            }
            // The thread starts, draws, and stops at once when asked.
            ASSERT_TRUE(picture.ShowPicture());
            EXPECT_TRUE(picture.IsAnimationRunning());
            const auto start = std::chrono::steady_clock::now();
            picture.StopAnimation();
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
            EXPECT_FALSE(picture.IsAnimationRunning());
        });
        EXPECT_EQ(ui.RunModalDialog(IDD_VESK_DIALOG, &host, nullptr), 1);
    }
}

TEST(ControlsWin32, OneFrameIsAStillPictureTheRendererDraws) {
    port::win32::Win32Ui ui;
    const auto hosting = ui.EnableControlHosting();
    ASSERT_NE(hosting, nullptr);
    HostDialog host(ui, [&](port::WindowHandle dialog) {
        CPictureEx picture(ui);
        ASSERT_TRUE(picture.SubclassDlgItem(IDC_PICTURE, dialog));
        ASSERT_TRUE(picture.LoadPicture(IDR_MAIN_GIF));
        // The first frame, rebuilt as a GIF of its own, read back.
        const std::string gif = ui.LoadResourceData(IDR_MAIN_GIF, "GIF");
        CPictureEx still(ui);
        ASSERT_TRUE(still.SubclassDlgItem(IDC_ACCOUNTS_LABEL, dialog));
        std::string frame;
        // Header, table and the looping extension's 19 bytes skipped: the
        // first graphic block runs to the second graphic control extension.
        const std::size_t head = 13 + 3 * (2u << (static_cast<unsigned char>(gif[10]) & 7));
        const std::size_t second = gif.find(std::string("\x21\xF9\x04", 3), head + 19 + 8);
        ASSERT_NE(second, std::string::npos);
        frame = gif.substr(0, head) + gif.substr(head + 19, second - head - 19) + "\x3B";
        std::vector<unsigned char> bytes(frame.begin(), frame.end());
        ASSERT_TRUE(still.LoadPictureData(bytes.data(), bytes.size()));
        EXPECT_FALSE(still.IsAnimated());
        EXPECT_TRUE(still.ShowPicture()); // the renderer drew it
        EXPECT_FALSE(still.IsAnimationRunning());
        // Not a picture at all: the loader refuses it.
        const unsigned char junk[] = "no picture here";
        EXPECT_FALSE(still.LoadPictureData(junk, sizeof junk));
    });
    EXPECT_EQ(ui.RunModalDialog(IDD_VESK_DIALOG, &host, nullptr), 1);
}

TEST(ControlsWin32, HyperLinkBindsToARealStaticControl) {
    port::win32::Win32Ui ui;
    HostDialog host(ui, [&](port::WindowHandle dialog) {
        CHyperLink link(ui);
        link.SetTarget("http://www.example.com/");
        ASSERT_TRUE(link.SubclassDlgItem(IDC_ACCOUNTS_LABEL, dialog));
        const port::WindowHandle control = ui.GetItem(dialog, IDC_ACCOUNTS_LABEL);
        EXPECT_NE(ui.GetStyle(control) & 0x100u, 0u); // SS_NOTIFY
        // Fitted to its text in the underlined font.
        auto font = ui.CreateWindowFont(control, true);
        ASSERT_NE(font, nullptr);
        const port::Size extent = ui.MeasureText(control, font.get(), ui.GetWindowText(control));
        EXPECT_GT(extent.cx, 0);
        EXPECT_EQ(ui.GetWindowRect(control).Width(), extent.cx);
        EXPECT_EQ(ui.GetWindowRect(control).Height(), extent.cy);
        // The pointer over it: hover, underline and the hover timer.
        ui.SendMessage(control, port::kWmMouseMove, 0, 0);
        EXPECT_TRUE(link.IsHovering());
        EXPECT_TRUE(link.IsUnderlined());
        ui.SendMessage(control, port::kWmPaint, 0, 0);
    });
    EXPECT_EQ(ui.RunModalDialog(IDD_VESK_DIALOG, &host, nullptr), 1);

    // The port's pieces of the click: the shell's code for a missing file,
    // and a class that is not registered.
    const int code = ui.ShellOpenWithResult("C:\\tavlo-no-such-folder\\none.txt");
    EXPECT_TRUE(code == 2 || code == 3) << code; // file or path not found
    std::string value;
    EXPECT_FALSE(ui.ReadClassesRootDefault(".tavlo-no-such-extension", value));
}

} // namespace
