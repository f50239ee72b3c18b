// libFuzzer target: the animated picture control's GIF block walker on
// arbitrary bytes. Every read must stay inside the data (ASan), and a load
// must either make a picture or leave the control empty. The headless
// picture loader records what it is given, so the frames the walker rebuilt
// are checked too: each is the data's header and colour table, then a run
// of the data's own blocks (in order, without overlap, inside the data),
// then the trailer; image data is never decoded.
#include "FuzzSupport.h"
#include "controls/PictureEx.h"
#include "platform/headless/HeadlessUi.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using tavlo::fuzz::Check;

constexpr std::size_t kHeaderAndScreen = 13;

void CheckRebuiltFrames(const std::string& data,
                        const std::vector<port::headless::HeadlessUi::PictureLoad>& loads,
                        std::size_t frames) {
    Check(data.size() >= kHeaderAndScreen);
    const auto packed = static_cast<unsigned char>(data[10]);
    const std::size_t table = (packed & 0x80) != 0 ? 3u << ((packed & 7) + 1) : 0;
    const std::size_t header = kHeaderAndScreen + table;
    Check(loads.size() >= 2 && frames == loads.size()); // the loader takes every frame
    std::size_t next = header; // frames come in order, each after the one before
    for (const auto& load : loads) {
        const std::string& gif = load.bytes;
        Check(gif.size() > header + 1);
        Check(gif.compare(0, header, data, 0, header) == 0);
        Check(gif.back() == '\x3B');
        const std::string blocks = gif.substr(header, gif.size() - header - 1);
        const std::size_t at = data.find(blocks, next);
        Check(at != std::string::npos && at + blocks.size() <= data.size());
        next = at + blocks.size();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A window system per input, so that its record of loads holds this
    // input's only.
    port::headless::HeadlessUi ui;
    port::WindowSpec spec;
    spec.className = "Static";
    spec.rect = port::Rect{0, 0, 10, 10};
    const port::WindowHandle window = ui.CreatePopupWindow(spec, nullptr);

    // An exactly sized copy, so that ASan sees a read one past the end.
    std::vector<unsigned char> bytes(data, data + size);
    CPictureEx picture(ui);
    Check(picture.SubclassWindow(window));
    const bool loaded = picture.LoadPictureData(bytes.empty() ? nullptr : bytes.data(), size);
    // A picture always has a canvas of its size.
    Check(loaded == (picture.GetPictureSize().cx > 0 && picture.GetPictureSize().cy > 0));
    Check(loaded || picture.GetFrames().empty());
    for (const GifFrame& frame : picture.GetFrames()) {
        Check(frame.picture != nullptr);
        Check(frame.delay >= -1 && frame.delay <= 0xFFFF);
        Check(frame.disposal >= 0 && frame.disposal <= 7);
    }
    if (picture.GetFrames().size() > 1 || picture.IsAnimated())
        CheckRebuiltFrames(std::string(data, data + size), ui.PictureLoads(),
                           picture.GetFrames().size());
    picture.FreePicture();
    return 0;
}
