#include "controls/PictureEx.h"

#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "platform/Wnd.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"
#include "support/MemoryProfileStore.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using port::headless::CanvasOp;
using port::headless::ClockMode;
using port::headless::HeadlessUi;

// --- GIF bytes made by hand ---------------------------------------------------------

void PutU16(std::string& out, unsigned value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

// Header and logical screen with a global table of 4 colours.
std::string Header(unsigned width, unsigned height, const char* version = "89a") {
    std::string out = std::string("GIF") + version;
    PutU16(out, width);
    PutU16(out, height);
    out += '\x81'; // global table, 2^(1+1) entries
    out += '\0';
    out += '\0';
    out += std::string(12, '\x7F');
    return out;
}

std::string GraphicControl(unsigned delay, unsigned disposal) {
    std::string out = "\x21\xF9\x04";
    out.push_back(static_cast<char>(disposal << 2));
    PutU16(out, delay);
    out += '\0';
    out += '\0';
    return out;
}

// An image descriptor and some data sub-blocks (never decoded here).
std::string Image(unsigned left, unsigned top, unsigned width, unsigned height) {
    std::string out = "\x2C";
    PutU16(out, left);
    PutU16(out, top);
    PutU16(out, width);
    PutU16(out, height);
    out += '\0';
    out += '\x02';                             // LZW minimum code size
    out += std::string("\x03\x84\x1D\x05", 4); // one sub-block of three bytes
    out += '\0';
    return out;
}

const std::string kTrailer = "\x3B";

std::string ResourceBytes(int id) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    return ui.LoadResourceData(id, "GIF");
}

// --- A dialog with control 1130 to bind the picture to ------------------------------

class PictureTest : public ::testing::Test {
protected:
    explicit PictureTest(ClockMode mode = ClockMode::Manual)
        : ui(tavlo::res::ProgramResources(), mode) {}

    void SetUp() override {
        ASSERT_NE(ui.OpenDialog(IDD_VESK_DIALOG, &dialog, nullptr), nullptr);
        control = ui.GetItem(dialog.GetSafeHwnd(), IDC_PICTURE);
        ASSERT_NE(control, nullptr);
        ASSERT_TRUE(picture.SubclassDlgItem(IDC_PICTURE, dialog.GetSafeHwnd()));
    }

    bool Load(const std::string& bytes) {
        // An exactly sized copy, so that a read past the end is an ASan error.
        owned.assign(bytes.begin(), bytes.end());
        return picture.LoadPictureData(owned.empty() ? nullptr : owned.data(), owned.size());
    }

    // The numbers of the pictures drawn into the canvas, in order.
    std::vector<int> DrawnPictures() const {
        std::vector<int> out;
        for (const CanvasOp& op : ui.CanvasOps()) {
            if (op.kind == CanvasOp::Kind::Picture)
                out.push_back(op.picture);
        }
        return out;
    }

    // Waits (real time, at most 5 s) until at least count pictures were drawn.
    bool WaitForDrawn(std::size_t count) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (DrawnPictures().size() < count) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    HeadlessUi ui;
    CDialog dialog{ui, IDD_VESK_DIALOG};
    port::WindowHandle control = nullptr;
    std::vector<unsigned char> owned;
    CPictureEx picture{ui};
};

class PictureRealClockTest : public PictureTest {
protected:
    PictureRealClockTest() : PictureTest(ClockMode::Real) {}
};

// --- The walker on the program's two animations ----------------------------------

struct ProgramGif {
    int id;
    port::Size size;
    std::vector<int> delays;
};

TEST_F(PictureTest, ProgramAnimationsSplitIntoTheirFrames) {
    const ProgramGif cases[] = {
        {IDR_MAIN_GIF, {48, 32}, {12, 6, 6, 6, 8, 6, 6, 6, 10, 12, 12, 120}},
        {IDR_OPTIONS_GIF, {49, 29}, std::vector<int>(15, 2)},
    };
    for (const ProgramGif& gif : cases) {
        SCOPED_TRACE(gif.id);
        ASSERT_TRUE(picture.LoadPicture(gif.id));
        EXPECT_TRUE(picture.IsGif());
        EXPECT_TRUE(picture.IsAnimated());
        EXPECT_EQ(picture.GetPictureSize(), gif.size);
        // The control takes the picture's size where it stands.
        const port::Rect rect = ui.GetWindowRect(control);
        EXPECT_EQ(rect.Width(), gif.size.cx);
        EXPECT_EQ(rect.Height(), gif.size.cy);
        EXPECT_EQ(rect.left,
                  ui.FindControlInfo(dialog.GetSafeHwnd(), IDC_PICTURE)->resource.pixels.left);

        const std::vector<GifFrame>& frames = picture.GetFrames();
        ASSERT_EQ(frames.size(), gif.delays.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].delay, gif.delays[i]) << i;
            EXPECT_EQ(frames[i].disposal, 1) << i; // the generator keeps each frame
            EXPECT_EQ(frames[i].width, gif.size.cx);
            EXPECT_EQ(frames[i].height, gif.size.cy);
            EXPECT_EQ(frames[i].left, 0);
            EXPECT_EQ(frames[i].top, 0);
            ASSERT_NE(frames[i].picture, nullptr);
        }
        EXPECT_EQ(ui.LiveMemoryCanvasCount(), 1);
    }
    picture.FreePicture();
    EXPECT_EQ(ui.LiveMemoryCanvasCount(), 0);
    EXPECT_TRUE(picture.GetFrames().empty());
}

// Walks a GIF as a decoder would and tells whether it is one complete frame:
// header and screen, global table, optional extensions, one image with its
// sub-blocks, and the trailer as the last byte.
bool IsOneFrameGif(const std::string& gif, std::string& why) {
    const auto byte = [&gif](std::size_t at) { return static_cast<unsigned char>(gif[at]); };
    if (gif.size() < 13 || gif.compare(0, 6, "GIF89a") != 0)
        return why = "header", false;
    std::size_t at = 13 + ((byte(10) & 0x80) != 0 ? 3u * (2u << (byte(10) & 7)) : 0u);
    const auto subBlocks = [&]() {
        while (at < gif.size() && byte(at) != 0)
            at += 1 + byte(at);
        if (at >= gif.size())
            return false;
        ++at;
        return true;
    };
    int images = 0;
    while (at < gif.size()) {
        if (byte(at) == 0x3B)
            break;
        if (byte(at) == 0x21 && at + 2 < gif.size()) {
            at += 2;
            if (!subBlocks())
                return why = "extension", false;
        } else if (byte(at) == 0x2C && at + 10 < gif.size()) {
            const unsigned packed = byte(at + 9);
            at += 10 + ((packed & 0x80) != 0 ? 3u * (2u << (packed & 7)) : 0u) + 1;
            if (!subBlocks())
                return why = "image data", false;
            ++images;
        } else {
            return why = "block at " + std::to_string(at), false;
        }
    }
    if (images != 1)
        return why = std::to_string(images) + " images", false;
    if (at != gif.size() - 1)
        return why = "trailer", false;
    return true;
}

TEST_F(PictureTest, RebuiltFramesAreCompleteOneFrameGifsThatLoadAsStillPictures) {
    for (const int id : {IDR_MAIN_GIF, IDR_OPTIONS_GIF}) {
        SCOPED_TRACE(id);
        const std::string original = ResourceBytes(id);
        const std::size_t before = ui.PictureLoads().size();
        ASSERT_TRUE(picture.LoadPicture(id));
        const auto loads = ui.PictureLoads();
        const std::size_t frameCount = picture.GetFrames().size();
        ASSERT_EQ(loads.size() - before, frameCount);
        for (std::size_t i = before; i < loads.size(); ++i) {
            const std::string& frame = loads[i].bytes;
            std::string why;
            EXPECT_TRUE(IsOneFrameGif(frame, why)) << "frame " << i - before << ": " << why;
            // The header, screen and colour table are the original's.
            const std::size_t head =
                13 + 3 * (2u << (static_cast<unsigned char>(original[10]) & 7));
            EXPECT_EQ(frame.compare(0, head, original, 0, head), 0);
        }

        // Read back by the control itself: one graphic block, a still picture.
        CPictureEx again(ui);
        ASSERT_TRUE(again.SubclassWindow(ui.GetItem(dialog.GetSafeHwnd(), IDC_MAILPROGRAM_LABEL)));
        std::vector<unsigned char> frame(loads.back().bytes.begin(), loads.back().bytes.end());
        ASSERT_TRUE(again.LoadPictureData(frame.data(), frame.size()));
        EXPECT_TRUE(again.IsGif());
        EXPECT_FALSE(again.IsAnimated());
        EXPECT_TRUE(again.GetFrames().empty());
        EXPECT_EQ(ui.PictureLoads().back().bytes, loads.back().bytes);
        EXPECT_TRUE(again.ShowPicture());
        EXPECT_FALSE(again.IsAnimationRunning());
    }
}

TEST(PictureExDelay, ShortAndMissingDelaysShowFor100Ms) {
    const struct {
        int delay;
        unsigned ms;
    } cases[] = {{-1, 100}, {0, 100}, {1, 100},    {4, 100},
                 {5, 50},   {6, 60},  {120, 1200}, {65535, 655350}};
    for (const auto& c : cases)
        EXPECT_EQ(CPictureEx::FrameWaitMs(c.delay), c.ms) << c.delay;
}

// --- Damaged and other data -------------------------------------------------------------

TEST_F(PictureTest, MalformedDataLoadsNothingOrOnlyTheFramesBeforeTheDamage) {
    const std::string gif = ResourceBytes(IDR_MAIN_GIF);
    ASSERT_GT(gif.size(), 800u);
    // The first frame starts after the table and the looping extension.
    const std::size_t firstFrame = 13 + 3 * (2u << (static_cast<unsigned char>(gif[10]) & 7)) + 19;
    const std::string header = Header(8, 8);
    const std::string frame = GraphicControl(10, 1) + Image(0, 0, 8, 8);
    const std::string two = header + frame + frame + kTrailer;
    // Where the third frame of the two-frame GIF would start.
    std::string longSubBlock = header + GraphicControl(10, 1) + Image(0, 0, 8, 8);
    longSubBlock[longSubBlock.size() - 5] = '\xFF'; // a sub-block of 255 bytes in a short file
    std::string localTable = header + GraphicControl(10, 1) + Image(0, 0, 8, 8) + frame;
    localTable[header.size() + 8 + 9] = '\x87'; // a local table of 768 bytes that is not there
    std::string unknownLabel = header + "\x21\x99\x01\x00\x00" + frame + frame + kTrailer;
    std::string badScreenTable = Header(8, 8);
    badScreenTable[10] = '\x87'; // a global table of 768 bytes

    const struct {
        const char* name;
        std::string bytes;
        bool loads;
        std::size_t frames;
    } cases[] = {
        {"empty", "", false, 0},
        {"only the signature", "GIF", false, 0},
        {"screen descriptor cut", gif.substr(0, 10), false, 0},
        {"global table cut", gif.substr(0, 20), false, 0},
        {"global table larger than the data", badScreenTable + frame + frame + kTrailer, false, 0},
        {"no frame at all", header + kTrailer, false, 0},
        {"only an application extension", header + "\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00",
         false, 0},
        {"application extension cut", header + "\x21\xFF\x0BNETSCA", false, 0},
        {"graphic control extension then trailer", header + GraphicControl(5, 0) + kTrailer, false,
         0},
        {"graphic control extension cut", header + "\x21\xF9\x04\x00", false, 0},
        {"image descriptor cut", header + GraphicControl(5, 0) + "\x2C\x00\x00\x00", false, 0},
        {"first frame's data cut", gif.substr(0, firstFrame + 30), false, 0},
        {"sub-block running past the end", longSubBlock, false, 0},
        {"local table running past the end", localTable, false, 0},
        {"unknown extension before the frames", unknownLabel, false, 0},
        {"cut in the third frame", two + frame.substr(0, 12), true, 2},
        {"no trailer", two.substr(0, two.size() - 1), true, 2},
        {"garbage after the second frame", header + frame + frame + "\x99\x99", true, 2},
        {"whole", two, true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Load(c.bytes), c.loads);
        EXPECT_EQ(picture.GetFrames().size(), c.frames);
        if (!c.loads) {
            EXPECT_FALSE(picture.ShowPicture());
            EXPECT_FALSE(picture.IsAnimationRunning());
            EXPECT_EQ(ui.LiveMemoryCanvasCount(), 0);
        }
    }
}

TEST_F(PictureTest, ACutAnimationPlaysTheFramesBeforeTheCut) {
    const std::string gif = ResourceBytes(IDR_MAIN_GIF);
    ASSERT_TRUE(picture.LoadPicture(IDR_MAIN_GIF));
    const auto loads = ui.PictureLoads();
    ASSERT_EQ(loads.size(), 12u);
    // Where each frame ends in the file: after the header, the table and the
    // looping extension (19 bytes), frame by frame as the rebuilt copies
    // (less their header and trailer) are long.
    const std::size_t head = 13 + 3 * (2u << (static_cast<unsigned char>(gif[10]) & 7));
    std::vector<std::size_t> ends;
    std::size_t at = head + 19;
    for (const auto& load : loads) {
        at += load.bytes.size() - head - 1;
        ends.push_back(at);
    }
    ASSERT_EQ(ends.back(), gif.size() - 1); // the trailer follows the last frame
    for (std::size_t complete = 1; complete <= 12; ++complete) {
        SCOPED_TRACE(complete);
        // Cut right after a frame, and one byte before its end.
        EXPECT_TRUE(Load(gif.substr(0, ends[complete - 1])));
        EXPECT_EQ(picture.GetFrames().size(), complete == 1 ? 0u : complete);
        EXPECT_EQ(picture.IsAnimated(), complete > 1);
        EXPECT_EQ(Load(gif.substr(0, ends[complete - 1] - 1)), complete > 1);
        EXPECT_EQ(picture.GetFrames().size(), complete <= 2 ? 0u : complete - 1);
    }
}

TEST_F(PictureTest, DataThatIsNoGifGoesWholeToTheLoaderAndIsSizedFromItsHimetricSize) {
    std::string bmp(54, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    bmp[14] = 40;
    bmp[18] = 30; // width
    bmp[22] = 20; // height
    ASSERT_TRUE(Load(bmp));
    EXPECT_FALSE(picture.IsGif());
    EXPECT_EQ(picture.GetPictureSize(), (port::Size{30, 20}));
    EXPECT_EQ(ui.PictureLoads().back().bytes, bmp);
    EXPECT_TRUE(picture.ShowPicture());
    EXPECT_FALSE(picture.IsAnimationRunning());

    EXPECT_FALSE(Load("not a picture at all"));
}

TEST_F(PictureTest, OtherGifVersionsAreParsedAsGif) {
    const std::string frame = GraphicControl(10, 1) + Image(0, 0, 8, 8);
    ASSERT_TRUE(Load(Header(8, 8, "12z") + frame + frame + kTrailer));
    EXPECT_TRUE(picture.IsGif());
    EXPECT_EQ(picture.GetFrames().size(), 2u);
}

TEST_F(PictureTest, FramesTheLoaderRefusesAreLeftOut) {
    int seen = 0;
    ui.SetPictureLoadFilter([&seen](const std::string&) { return ++seen != 3; });
    ASSERT_TRUE(picture.LoadPicture(IDR_MAIN_GIF));
    const std::vector<GifFrame>& frames = picture.GetFrames();
    ASSERT_EQ(frames.size(), 11u);
    EXPECT_EQ(frames[1].delay, 6);
    EXPECT_EQ(frames[2].delay, 6);
    EXPECT_EQ(frames[3].delay, 8); // the fourth frame of the file

    ui.SetPictureLoadFilter([](const std::string&) { return false; });
    EXPECT_FALSE(picture.LoadPicture(IDR_MAIN_GIF));
    ui.SetResourceData(IDR_MAIN_GIF, "GIF", "");
    ui.SetPictureLoadFilter(nullptr);
    EXPECT_FALSE(picture.LoadPicture(IDR_MAIN_GIF));
}

TEST_F(PictureTest, StillPictureIsDrawnOnceWithoutAThread) {
    const std::string one = Header(8, 8) + GraphicControl(10, 1) + Image(0, 0, 8, 8) + kTrailer;
    ASSERT_TRUE(Load(one));
    EXPECT_FALSE(picture.IsAnimated());
    ASSERT_TRUE(picture.ShowPicture());
    EXPECT_FALSE(picture.IsAnimationRunning());
    const auto ops = ui.CanvasOps();
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[0].kind, CanvasOp::Kind::Fill); // the canvas starts in the menu colour
    EXPECT_EQ(ops[0].colour, ui.GetSystemColour(port::SystemColour::Menu));
    EXPECT_EQ(ops[1].kind, CanvasOp::Kind::Picture);
    EXPECT_EQ(ops[1].rect, (port::Rect{0, 0, 8, 8}));
    // The paint copies the canvas onto the control.
    ui.ClearPaintOps();
    ui.RunPending();
    bool copied = false;
    for (const auto& op : ui.PaintOps())
        copied = copied ||
                 (op.window == control && op.kind == port::headless::PaintOp::Kind::MemoryCanvas &&
                  op.rect == port::Rect{0, 0, 8, 8});
    EXPECT_TRUE(copied);
}

// --- The animation thread ---------------------------------------------------------------

TEST_F(PictureTest, ThreadDrawsTheFramesInTurnAsTheClockAdvancesAndClearsOnWrap) {
    ASSERT_TRUE(picture.LoadPicture(IDR_OPTIONS_GIF));
    const int first = ui.PictureLoads().front().picture;
    ASSERT_TRUE(picture.ShowPicture());
    ASSERT_TRUE(picture.IsAnimationRunning());
    ASSERT_TRUE(WaitForDrawn(1));
    // The thread waits on the window system's clock: without it moving,
    // nothing more is drawn.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(DrawnPictures().size(), 1u);
    for (std::size_t n = 2; n <= 17; ++n) {
        // 2 hundredths play as 100 ms; an advance that falls before the
        // thread's wait began is made up by the next one.
        for (int tries = 0; tries < 50 && DrawnPictures().size() < n; ++tries) {
            ui.Advance(100);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_EQ(DrawnPictures().size(), n);
    }
    std::vector<int> expected;
    for (int i = 0; i < 17; ++i)
        expected.push_back(first + i % 15);
    EXPECT_EQ(DrawnPictures(), expected);
    // Before frame 0 comes again the whole canvas is cleared to the
    // button-face colour.
    const auto ops = ui.CanvasOps();
    int pictures = 0;
    bool cleared = false;
    for (const CanvasOp& op : ops) {
        if (op.kind == CanvasOp::Kind::Picture)
            ++pictures;
        if (op.kind == CanvasOp::Kind::Fill && pictures == 15) {
            cleared = op.rect == port::Rect{0, 0, 49, 29} &&
                      op.colour == ui.GetSystemColour(port::SystemColour::ButtonFace);
        }
    }
    EXPECT_TRUE(cleared);

    // Each drawing asks for a paint, which copies the canvas.
    ui.ClearPaintOps();
    ui.RunPending();
    EXPECT_FALSE(ui.PaintOps().empty());

    picture.StopAnimation();
    EXPECT_FALSE(picture.IsAnimationRunning());
    const std::size_t drawn = DrawnPictures().size();
    ui.Advance(1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(DrawnPictures().size(), drawn);
    // Shown again, it goes on with the frame it was showing (the 17th: frame 1).
    ASSERT_TRUE(picture.ShowPicture());
    ASSERT_TRUE(WaitForDrawn(drawn + 1));
    EXPECT_EQ(DrawnPictures().back(), first + 1);
}

TEST_F(PictureTest, FramesWithoutADelayAndDisposalsTwoAndThree) {
    // Frame 1 without a graphic control extension, frame 2 restores the
    // background, frame 3 the previous picture.
    const std::string gif = Header(20, 10) + Image(0, 0, 20, 10) + GraphicControl(0, 2) +
                            Image(2, 3, 4, 5) + GraphicControl(7, 3) + Image(5, 1, 6, 2) + kTrailer;
    ASSERT_TRUE(Load(gif));
    const std::vector<GifFrame>& frames = picture.GetFrames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].delay, -1);
    EXPECT_EQ(frames[1].disposal, 2);
    EXPECT_EQ((port::Rect{frames[1].left, frames[1].top, frames[1].width, frames[1].height}),
              (port::Rect{2, 3, 4, 5}));
    EXPECT_EQ(frames[2].disposal, 3);
    EXPECT_EQ(frames[2].delay, 7);
    ui.ClearCanvasOps();
    ASSERT_TRUE(picture.ShowPicture());
    for (std::size_t n = 2; n <= 4; ++n) {
        // The frame without a delay shows for 100 ms, not for ever.
        for (int tries = 0; tries < 50 && DrawnPictures().size() < n; ++tries) {
            ASSERT_TRUE(WaitForDrawn(n - 1));
            ui.Advance(100);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_EQ(DrawnPictures().size(), n);
    }
    picture.StopAnimation();
    std::vector<CanvasOp::Kind> kinds;
    for (const CanvasOp& op : ui.CanvasOps())
        kinds.push_back(op.kind);
    const port::Colour face = ui.GetSystemColour(port::SystemColour::ButtonFace);
    const auto ops = ui.CanvasOps();
    // picture 1; picture 2; fill of frame 2's area; save under frame 3;
    // picture 3; restore; clear on wrap; picture 1.
    ASSERT_GE(ops.size(), 8u);
    EXPECT_EQ(ops[2].kind, CanvasOp::Kind::Fill);
    EXPECT_EQ(ops[2].rect, (port::Rect{2, 3, 6, 8}));
    EXPECT_EQ(ops[2].colour, face);
    EXPECT_EQ(ops[3].kind, CanvasOp::Kind::Copy); // the area under frame 3 is saved
    EXPECT_EQ(ops[3].rect, (port::Rect{5, 1, 11, 3}));
    EXPECT_EQ(ops[4].kind, CanvasOp::Kind::Picture);
    EXPECT_EQ(ops[5].kind, CanvasOp::Kind::Copy); // and put back
    EXPECT_EQ(ops[5].at, (port::Point{5, 1}));
    EXPECT_EQ(ops[5].target, ops[3].canvas);
    EXPECT_EQ(ops[6].kind, CanvasOp::Kind::Fill);
    EXPECT_EQ(ops[6].rect, (port::Rect{0, 0, 20, 10}));
}

TEST_F(PictureTest, CanvasRecordOfALongAnimationStaysBounded) {
    // A program that runs for weeks draws without end; the headless window
    // system keeps only the latest operations.
    auto canvas = ui.CreateMemoryCanvas(control, port::Size{4, 4});
    ASSERT_NE(canvas, nullptr);
    for (int i = 0; i < 25000; ++i)
        canvas->FillRect(port::Rect{0, 0, 4, 4}, static_cast<port::Colour>(i));
    const auto ops = ui.CanvasOps();
    EXPECT_LE(ops.size(), 10000u);
    EXPECT_GE(ops.size(), 5000u);
    EXPECT_EQ(ops.back().colour, 24999u);
}

TEST(MainWindowPicture, Control1130PlaysGif291FromTheStart) {
    tavlo::test::MemoryProfileStore store;
    store.SetInt("App", "Autostart", 0);
    HeadlessUi ui{tavlo::res::ProgramResources()};
    CVeskApp app(store, ui, "tavlo");
    std::vector<int> drawn;
    const auto pictures = [&ui] {
        std::vector<int> out;
        for (const CanvasOp& op : ui.CanvasOps()) {
            if (op.kind == CanvasOp::Kind::Picture)
                out.push_back(op.picture);
        }
        return out;
    };
    {
        CVeskDlg dlg(app);
        const port::WindowHandle window = ui.OpenDialog(IDD_VESK_DIALOG, &dlg, nullptr);
        ASSERT_NE(window, nullptr);
        // GIF 291's twelve frames went to the picture loader, and the
        // control took the animation's size.
        const auto loads = ui.PictureLoads();
        ASSERT_EQ(loads.size(), 12u);
        const port::Rect rect = ui.GetWindowRect(ui.GetItem(window, IDC_PICTURE));
        EXPECT_EQ(rect.Width(), 48);
        EXPECT_EQ(rect.Height(), 32);
        // The first frame shows 12 hundredths, the second 6.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (pictures().empty() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(pictures(), std::vector<int>{loads[0].picture});
        for (int tries = 0; tries < 50 && pictures().size() < 2; ++tries) {
            ui.Advance(120);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_EQ(pictures(), (std::vector<int>{loads[0].picture, loads[1].picture}));
        // The window paints the canvas onto the control.
        ui.ClearPaintOps();
        ui.RunPending();
        bool copied = false;
        for (const auto& op : ui.PaintOps()) {
            copied = copied || (op.kind == port::headless::PaintOp::Kind::MemoryCanvas &&
                                op.window == ui.GetItem(window, IDC_PICTURE));
        }
        EXPECT_TRUE(copied);
        drawn = pictures();
    }
    // The window's end stopped the thread: nothing more is drawn.
    ui.Advance(2000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(pictures(), drawn);
    EXPECT_EQ(ui.LiveMemoryCanvasCount(), 0);
}

TEST_F(PictureRealClockTest, StopAndDestructionEndALongFrameAtOnce) {
    // Two frames of 60 seconds each.
    const std::string frame = GraphicControl(6000, 1) + Image(0, 0, 8, 8);
    const std::string gif = Header(8, 8) + frame + frame + kTrailer;
    ASSERT_TRUE(Load(gif));
    ASSERT_TRUE(picture.ShowPicture());
    ASSERT_TRUE(WaitForDrawn(1));
    auto start = std::chrono::steady_clock::now();
    picture.StopAnimation();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_FALSE(picture.IsAnimationRunning());

    // The window's end stops the thread too.
    ASSERT_TRUE(picture.ShowPicture());
    ASSERT_TRUE(picture.IsAnimationRunning());
    start = std::chrono::steady_clock::now();
    dialog.DestroyWindow();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_FALSE(picture.IsAnimationRunning());

    // And so does the object's end, with its window still there.
    CDialog other{ui, IDD_VESK_DIALOG};
    ASSERT_NE(ui.OpenDialog(IDD_VESK_DIALOG, &other, nullptr), nullptr);
    start = std::chrono::steady_clock::now();
    {
        CPictureEx running(ui);
        ASSERT_TRUE(running.SubclassDlgItem(IDC_PICTURE, other.GetSafeHwnd()));
        ASSERT_TRUE(running.LoadPictureData(owned.data(), owned.size()));
        ASSERT_TRUE(running.ShowPicture());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    // The control outlives the object and goes on without it.
    ui.SendMessage(ui.GetItem(other.GetSafeHwnd(), IDC_PICTURE), port::kWmPaint, 0, 0);
}

} // namespace
