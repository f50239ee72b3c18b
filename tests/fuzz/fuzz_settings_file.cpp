// libFuzzer target: the settings file (settings.reg) of the file-backed
// settings store, on arbitrary bytes. The input is the file as found on
// disk; the store reads the program's values from it, and when it could read
// the file, writes to it.
//
// Checked: a file the store cannot read is reported and set aside, never
// used in part; after a write the file reads without a problem, every value
// read before reads the same, and the written text (any bytes, here the
// input itself) and section name read back as written, cut at their first
// zero byte as registry strings are; writing the same value again leaves the
// file byte for byte as it was.
#include "FuzzSupport.h"
#include "config/Settings.h"
#include "platform/Files.h"
#include "platform/headless/FileProfileStore.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

using tavlo::fuzz::Check;

const char kKeyPrefix[] = "HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo";

std::string ReadFile(const std::string& path) {
    std::string content;
    Check(port::ReadWholeFile(path, content) == port::FileReadResult::Ok);
    return content;
}

struct Named {
    const char* section;
    const char* name;
};

constexpr Named kValues[] = {
    {kSectionApp, kValueSearchForMail},   {kSectionApp, kValueSound},
    {kSectionApp, kValueAnimate},         {kSectionApp, kValueAutostart},
    {kSectionApp, kValueCheckForUpdates}, {kSectionApp, kValueAutostartEmailProgram},
    {kSectionApp, kValueMailClient},      {kSectionApp, kValueMyMailClient},
    {kSectionApp, kValueMySound},         {kSectionApp, kValueMyAnimation},
    {kSectionApp, kValueMinimized},       {kSectionApp, kValueUpdateHost},
    {kSectionUser, kValueAccounts},
};

// Every known value as an integer and as a text, with a default that no
// file gives by accident.
std::vector<std::pair<std::uint32_t, std::string>> ReadAll(port::ProfileStore& store) {
    std::vector<std::pair<std::uint32_t, std::string>> values;
    for (const Named& v : kValues)
        values.emplace_back(store.GetInt(v.section, v.name, 0xFEEDF00Du),
                            store.GetString(v.section, v.name, "\x01missing"));
    return values;
}

std::string UpToZero(const std::string& text) {
    return std::string(text.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const tavlo::fuzz::ScratchFolder folder;
    const std::string file = folder.File();
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::remove((file + ".bad").c_str());
    Check(tavlo::fuzz::WriteWholeFile(file, input));

    std::vector<std::string> problems;
    port::FileProfileStore store(
        file, kKeyPrefix, [&problems](const std::string& message) { problems.push_back(message); },
        tavlo::fuzz::WriteWholeFile);
    const auto before = ReadAll(store);
    if (!problems.empty()) {
        // Set aside whole: the store runs on defaults and the file is kept.
        Check(!port::FileExists(file) && ReadFile(file + ".bad") == input);
        for (const auto& [number, text] : before)
            Check(number == 0xFEEDF00Du && text == "\x01missing");
        return 0;
    }

    // The input as a text, and as the name of a section of its own.
    Check(store.WriteString("Fuzz", "Text", input));
    Check(store.WriteString("Fuzz\\" + input, "Value", "x"));
    Check(problems.empty());
    Check(ReadAll(store) == before);
    Check(store.GetString("Fuzz", "Text") == UpToZero(input));
    Check(store.GetString("Fuzz\\" + input, "Value") == "x");

    const std::string written = ReadFile(file);
    Check(store.WriteString("Fuzz", "Text", input));
    Check(ReadFile(file) == written);

    // An integer over whatever the file held under that name.
    const std::uint32_t number = size >= 4 ? static_cast<std::uint32_t>(data[0]) |
                                                 static_cast<std::uint32_t>(data[1]) << 8 |
                                                 static_cast<std::uint32_t>(data[2]) << 16 |
                                                 static_cast<std::uint32_t>(data[3]) << 24
                                           : 7;
    Check(store.WriteInt(kSectionApp, kValueSearchForMail, number));
    Check(store.GetInt(kSectionApp, kValueSearchForMail, 0) == number);
    Check(problems.empty());
    return 0;
}
