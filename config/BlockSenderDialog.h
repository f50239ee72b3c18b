// The block-sender dialog Spam (template 1089): the user types one blocked
// sender, a full address or a domain, and is warned that mail from it will
// be deleted from the server. The caller sets the caption and, to change an
// entry, the text, and reads the text back after OK.
#pragma once

#include "controls/DialogLook.h"

#include <string>

// Shown by OK while the field is empty.
inline constexpr const char* kTypeBlockedSenderText = "Type Email address or Domain name.";
// Shown by OK for a text with a line break or a NUL (pasted or given on a
// command line): Blocklist.txt holds one entry per line, so it would load
// back as other entries.
inline constexpr const char* kOneLineBlockedSenderText =
    "An e-mail address or domain name is one line of text.";
inline constexpr const char* kAddBlockedCaption = "Add blocked sender / domain";
inline constexpr const char* kEditBlockedCaption = "Change blocked sender / domain";

class Spam : public CLookDialog {
public:
    // appName is the caption of the dialog's message box.
    Spam(port::Ui& ui, std::string appName, port::WindowHandle owner = nullptr);
    ~Spam() override;

    std::string m_strCaption;
    std::string m_strAddress; // edit 1139, kept exactly as typed

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    std::string m_strAppName;
};
