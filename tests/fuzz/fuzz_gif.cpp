// libFuzzer target: the animated picture control's GIF block walker on
// arbitrary bytes. Every read must stay inside the data (ASan), and a load
// must either make a picture or leave the control empty.
#include "controls/PictureEx.h"
#include "platform/headless/HeadlessUi.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static port::headless::HeadlessUi ui;
    static const port::WindowHandle window = [] {
        port::WindowSpec spec;
        spec.className = "Static";
        spec.rect = port::Rect{0, 0, 10, 10};
        return ui.CreatePopupWindow(spec, nullptr);
    }();
    // An exactly sized copy, so that ASan sees a read one past the end.
    std::vector<unsigned char> bytes(data, data + size);
    CPictureEx picture(ui);
    if (!picture.SubclassWindow(window))
        std::abort();
    const bool loaded = picture.LoadPictureData(bytes.empty() ? nullptr : bytes.data(), size);
    if (loaded != (picture.GetPictureSize().cx > 0 && picture.GetPictureSize().cy > 0))
        std::abort(); // a picture always has a canvas of its size
    if (!loaded && !picture.GetFrames().empty())
        std::abort();
    for (const GifFrame& frame : picture.GetFrames()) {
        if (frame.picture == nullptr)
            std::abort();
    }
    picture.FreePicture();
    ui.ClearCanvasOps();
    return 0;
}
