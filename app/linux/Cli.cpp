#include "app/linux/Cli.h"

#include "app/linux/DataFolder.h"
#include "app/linux/RunCommand.h"
#include "config/Account.h"
#include "config/AccountDialog.h"
#include "config/AccountStore.h"
#include "config/BlockSenderDialog.h"
#include "config/OptionsDialog.h"
#include "config/ProxySetting.h"
#include "config/Settings.h"
#include "core/ServerAddress.h"
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "net/Text.h"
#include "platform/Paths.h"
#include "platform/Socket.h"
#include "platform/headless/FileProfileStore.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"

#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tavlo::cli {
namespace {

const char* const kUsageText =
    "usage: tavlo run\n"
    "       tavlo check\n"
    "       tavlo accounts list\n"
    "       tavlo accounts add --name NAME --server HOST[:PORT] --user USER [--type POP3|IMAP] "
    "[--ssl]\n"
    "                          (the password is read from the first line of standard input)\n"
    "       tavlo accounts remove --name NAME [--nth N]\n"
    "       tavlo accounts edit --name NAME [--nth N] [--new-name NAME] [--user USER]\n"
    "                          [--server HOST[:PORT]] [--type POP3|IMAP] [--ssl|--no-ssl]\n"
    "                          [--password]  (the new password: first line of standard input)\n"
    "       tavlo accounts test --name NAME [--nth N]\n"
    "       tavlo accounts export-reg [--app NAME]\n"
    "       tavlo blocked list\n"
    "       tavlo blocked add TEXT\n"
    "       tavlo blocked edit TEXT NEWTEXT [--nth N]\n"
    "       tavlo blocked remove TEXT [--nth N]\n"
    "       tavlo settings list\n"
    "       tavlo settings set NAME VALUE\n"
    "       tavlo update-check\n"
    "       tavlo --help | --version\n"
    "\n"
    "run: watch the accounts as the Windows program does (first check after 5.3 s, then every\n"
    "     check interval) and print one timestamped line per tray, popup, sound, animation,\n"
    "     mail program, window and message-box effect; SIGINT/SIGTERM end it.\n"
    "check: one check cycle; prints the report (one line per account with mail).\n"
    "edit, test: what the account dialog's OK and Test Account Settings do for the N-th\n"
    "     account of that name (default the first); test prints the dialog's message and\n"
    "     exits with 0 when the server accepted the login, else 1.\n"
    "blocked: the blocked senders (full addresses or domains) whose mail checks delete from\n"
    "     POP3 servers, kept in Blocklist.txt; list prints them in list order. edit and\n"
    "     remove act on the N-th entry of exactly that text (default the first).\n"
    "settings: the values of the options dialog, one NAME<TAB>VALUE line each (the value in\n"
    "     effect); set stores one as the dialog's OK does: SearchForMail 0-29 (minutes - 1),\n"
    "     flags 0 or 1, an empty MySound/MyAnimation the default file, Autostart the\n"
    "     autostart entry at once. UpdateHost (HOST or HOST:PORT, empty for the maker's\n"
    "     host) is where the update check asks. Proxy (socks4://HOST:PORT,\n"
    "     socks5://[USER[:PASSWORD]@]HOST:PORT or http://[USER[:PASSWORD]@]HOST:PORT, user and\n"
    "     password percent-encoded; empty for direct) is the proxy every POP3 and IMAP\n"
    "     connection goes through; list shows its password as ****.\n"
    "update-check: \"Check For Tavlo Update\": asks UpdateHost over HTTP for the current\n"
    "     version and prints what the window's message box says; exits with 0 when the\n"
    "     server answered, 1 when it could not be reached (or answered with an error).\n"
    "export-reg: prints the accounts as a registry file (UTF-16) that the Windows program\n"
    "     reads below HKEY_CURRENT_USER\\Software\\Tavlo\\NAME (default tavlo).\n"
    "\n"
    "The data folder is $TAVLO_HOME, else ~/.config/tavlo. TLS servers are verified against\n"
    "the system's trust store; SSL_CERT_FILE adds a private CA.\n";

// Parsed "--flag value" and "--switch" options after the command words.
struct Options {
    std::map<std::string, std::string> values;
    std::map<std::string, bool> switches;
};

// Accepts only the listed options; every value option needs a value and
// may appear once.
bool ParseOptions(int argc, char** argv, int first, const std::vector<std::string>& valueNames,
                  const std::vector<std::string>& switchNames, Options& options,
                  std::string& problem) {
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        bool known = false;
        for (const std::string& name : valueNames) {
            if (arg == "--" + name) {
                if (i + 1 >= argc) {
                    problem = "option " + arg + " needs a value";
                    return false;
                }
                if (options.values.count(name) != 0) {
                    problem = "option " + arg + " given twice";
                    return false;
                }
                options.values[name] = argv[++i];
                known = true;
                break;
            }
        }
        for (const std::string& name : switchNames) {
            if (!known && arg == "--" + name) {
                options.switches[name] = true;
                known = true;
            }
        }
        if (!known) {
            problem = "unknown argument '" + arg + "'";
            return false;
        }
    }
    return true;
}

// Reads the password from the first line of standard input; on a terminal
// it asks for it without echo.
std::string ReadPassword(std::istream& in, std::ostream& err) {
    const bool terminal = &in == &std::cin && ::isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        err << "Password: " << std::flush;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(in, line);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        err << '\n';
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

class Session {
public:
    Session(std::ostream& err) : m_err(err) {}

    // Opens the data folder and the settings file; false when the folder
    // cannot be used.
    bool Open() {
        m_folder = OpenDataFolder(m_err);
        if (m_folder.empty())
            return false;
        m_store = OpenSettings(m_folder, m_err);
        m_app = std::make_unique<CVeskApp>(*m_store, m_ui, port::ApplicationName());
        m_dlg = std::make_unique<CVeskDlg>(*m_app, CVeskDlg::CheckOnly{});
        // A console has no message boxes: their caption and text go to
        // standard error, so that standard output keeps only the report.
        m_dlg->SetMessageBoxHandler([this](const std::string& text, const std::string& caption) {
            m_err << caption << ": " << text << '\n';
            m_err.flush();
        });
        m_dlg->LoadAccounts();
        m_dlg->LoadBlockedSenders();
        return true;
    }

    CVeskDlg& Dlg() { return *m_dlg; }
    port::ProfileStore& Store() { return *m_store; }
    port::headless::HeadlessUi& Ui() { return m_ui; }
    const std::string& AppName() const { return m_app->AppName(); }

private:
    std::ostream& m_err;
    std::string m_folder;
    std::unique_ptr<port::FileProfileStore> m_store;
    // One check reports through the handlers below and shows no windows.
    port::headless::HeadlessUi m_ui{tavlo::res::ProgramResources()};
    std::unique_ptr<CVeskApp> m_app;
    std::unique_ptr<CVeskDlg> m_dlg;
};

int Usage(std::ostream& err, const std::string& problem) {
    if (!problem.empty())
        err << "tavlo: " << problem << '\n';
    err << kUsageText;
    return ExitCode::kUsage;
}

// Stores the account list; false, having said so, when it could not.
bool SaveAccounts(Session& session, std::ostream& err) {
    if (session.Dlg().SaveAccounts())
        return true;
    err << "tavlo: the accounts could not be saved\n";
    return false;
}

int CommandCheck(int argc, char** argv, std::ostream& out, std::ostream& err) {
    if (argc > 2)
        return Usage(err, std::string("unknown argument '") + argv[2] + "'");
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    port::SocketLayerStartup();
    session.Dlg().SetReportHandler([&out](bool, bool anyMail, const std::string& report) {
        if (anyMail)
            out << report << '\n';
        out.flush();
    });
    session.Dlg().CheckMail(true);
    return kOk;
}

int CommandAccountsList(int argc, char** argv, std::ostream& out, std::ostream& err) {
    if (argc > 3)
        return Usage(err, std::string("unknown argument '") + argv[3] + "'");
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    for (const CAccount& a : session.Dlg().m_accounts) {
        out << a.m_strAccountName << '\t' << (IsImap(a) ? "IMAP" : "POP3") << '\t'
            << a.m_strSecurity << '\t' << a.m_strUserName << '\t' << a.m_strServer << '\t'
            << a.m_strLastMessage << '\n';
    }
    return kOk;
}

int CommandAccountsAdd(int argc, char** argv, std::istream& in, std::ostream& err) {
    Options options;
    std::string problem;
    if (!ParseOptions(argc, argv, 3, {"name", "server", "user", "type"}, {"ssl"}, options, problem))
        return Usage(err, problem);
    std::string type = options.values.count("type") ? options.values["type"] : "POP3";
    for (char& c : type)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (type != "POP3" && type != "IMAP")
        return Usage(err, "--type must be POP3 or IMAP");

    CAccount account;
    account.m_strAccountName = options.values["name"];
    account.m_strUserName = options.values["user"];
    account.m_strServer = options.values["server"];
    account.m_strAccountType = type;
    account.m_strSecurity = options.switches["ssl"] ? "SSL" : "NORMAL";
    account.m_strLastMessage = "0";

    // The same checks, in the same order, as the account dialog's OK.
    if (account.m_strAccountName.empty())
        return Usage(err, kTypeAccountNameText);
    if (account.m_strUserName.empty())
        return Usage(err, kTypeUserNameText);
    std::string host;
    int port = 0;
    if (!account.m_strServer.empty() && !SplitServerAddress(account.m_strServer, 110, host, port))
        return Usage(err, "the server must be HOST or HOST:PORT with a port from 1 to 65535");
    account.m_strPassword = ReadPassword(in, err);
    if (account.m_strPassword.empty()) {
        err << "tavlo: " << kTypePasswordText << '\n';
        return kRefused;
    }
    if (account.m_strServer.empty())
        return Usage(err, kTypeServerText);

    if (text::HasLineBreakOrNul(account.m_strAccountName) ||
        text::HasLineBreakOrNul(account.m_strUserName) ||
        text::HasLineBreakOrNul(account.m_strServer) ||
        text::HasLineBreakOrNul(account.m_strPassword)) {
        err << "tavlo: names, user names, passwords and servers must be single lines\n";
        return kRefused;
    }
    const std::string storeProblem = AccountStoreProblem(account);
    if (!storeProblem.empty()) {
        err << "tavlo: " << storeProblem << '\n';
        return kRefused;
    }

    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    session.Dlg().m_accounts.push_back(account);
    if (!SaveAccounts(session, err))
        return kRefused;
    return kOk;
}

// [--nth N]: which of the records with the chosen text (N from 1, default 1).
bool ParseNth(Options& options, int& nth, std::string& problem) {
    nth = 1;
    if (options.values.count("nth") == 0)
        return true;
    const std::string& text = options.values["nth"];
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > 1000000) {
        problem = "--nth must be a positive number";
        return false;
    }
    nth = static_cast<int>(value);
    return true;
}

// --name NAME [--nth N]: which account of that name.
bool ParseAccountChoice(Options& options, int& nth, std::string& problem) {
    if (options.values.count("name") == 0) {
        problem = "--name is required";
        return false;
    }
    return ParseNth(options, nth, problem);
}

int NoSuchAccount(std::ostream& err, const std::string& name, int nth) {
    err << "tavlo: no account named '" << name << "'" << (nth > 1 ? " with that number" : "")
        << '\n';
    return kRefused;
}

int CommandAccountsRemove(int argc, char** argv, std::ostream& err) {
    Options options;
    std::string problem;
    int nth = 1;
    if (!ParseOptions(argc, argv, 3, {"name", "nth"}, {}, options, problem) ||
        !ParseAccountChoice(options, nth, problem))
        return Usage(err, problem);
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    if (!session.Dlg().RemoveAccount(options.values["name"], nth))
        return NoSuchAccount(err, options.values["name"], nth);
    if (!SaveAccounts(session, err))
        return kRefused;
    return kOk;
}

// A dialog of the program opened on the session's headless window system,
// filled as its caller in the window fills it: the commands below type into
// it and press its buttons, so that they do exactly what the dialog does.
// Its message boxes are collected instead of shown.
template <class Dialog> class DialogRun {
public:
    template <class Fill>
    DialogRun(Session& session, int templateId, Fill fill)
        : m_ui(session.Ui()), m_dlg(session.Ui(), session.AppName()) {
        m_ui.SetMessageBoxHandler([this](const port::headless::MessageBoxCall& call) {
            m_messages.push_back(call.text);
            return port::kIdOk;
        });
        fill(m_dlg);
        m_hWnd = m_ui.OpenDialog(templateId, &m_dlg, nullptr);
    }
    ~DialogRun() { m_ui.SetMessageBoxHandler(nullptr); }

    bool IsOpen() const { return m_hWnd != nullptr; }
    void SetText(int id, const std::string& text) { m_ui.SetItemText(m_hWnd, id, text); }
    void SetChecked(int id, bool checked) { m_ui.CheckItem(m_hWnd, id, checked); }
    // Chooses an item as the user does: the box tells the dialog (which may
    // show a message).
    void Choose(int id, int index) {
        m_ui.ListSetCurSel(m_hWnd, id, index);
        m_ui.SendMessage(m_hWnd, port::kWmCommand,
                         port::MakeCommandParam(static_cast<unsigned>(id), port::kSelChange), 0);
    }
    void Press(int id) { m_ui.PressButton(m_hWnd, id); }
    // The texts of the message boxes shown since the last call.
    std::vector<std::string> TakeMessages() { return std::exchange(m_messages, {}); }
    bool EndedWithOk() const {
        int result = 0;
        return m_ui.DialogEnded(m_hWnd, &result) && result == port::kIdOk;
    }
    const Dialog& Get() const { return m_dlg; }

private:
    port::headless::HeadlessUi& m_ui;
    Dialog m_dlg;
    port::WindowHandle m_hWnd = nullptr;
    std::vector<std::string> m_messages;
};

// The account dialog over a stored account, opened as Edit opens it.
class AccountDialogRun : public DialogRun<ADD> {
public:
    AccountDialogRun(Session& session, const CAccount& account)
        : DialogRun(session, IDD_ADD, [&account, &session](ADD& dialog) {
              dialog.LoadFrom(account);
              // As the window opens it: the Test button uses the "Proxy" setting.
              dialog.m_proxy = ReadProxySetting(session.Store());
          }) {}
};

int CommandAccountsTest(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Options options;
    std::string problem;
    int nth = 1;
    if (!ParseOptions(argc, argv, 3, {"name", "nth"}, {}, options, problem) ||
        !ParseAccountChoice(options, nth, problem))
        return Usage(err, problem);
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    const CAccount* account = session.Dlg().FindAccount(options.values["name"], nth);
    if (account == nullptr)
        return NoSuchAccount(err, options.values["name"], nth);
    port::SocketLayerStartup();
    AccountDialogRun dialog(session, *account);
    if (!dialog.IsOpen()) {
        err << "tavlo: the account dialog could not be opened\n";
        return kRefused;
    }
    dialog.Press(IDC_ADD_TEST);
    const std::vector<std::string> shown = dialog.TakeMessages();
    for (const std::string& text : shown)
        out << text << '\n';
    return shown.size() == 1 && shown[0] == AccountTestMessage(true) ? kOk : kRefused;
}

int CommandAccountsEdit(int argc, char** argv, std::istream& in, std::ostream& err) {
    Options options;
    std::string problem;
    int nth = 1;
    if (!ParseOptions(argc, argv, 3, {"name", "nth", "new-name", "user", "server", "type"},
                      {"ssl", "no-ssl", "password"}, options, problem) ||
        !ParseAccountChoice(options, nth, problem))
        return Usage(err, problem);
    if (options.switches["ssl"] && options.switches["no-ssl"])
        return Usage(err, "--ssl and --no-ssl exclude each other");
    int type = -1;
    if (options.values.count("type") != 0) {
        std::string text = options.values["type"];
        for (char& c : text)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        if (text != "POP3" && text != "IMAP")
            return Usage(err, "--type must be POP3 or IMAP");
        type = text == "POP3" ? ADD::kTypePop3 : ADD::kTypeImap;
    }
    std::string host;
    int port = 0;
    if (options.values.count("server") != 0 && !options.values["server"].empty() &&
        !SplitServerAddress(options.values["server"], 110, host, port))
        return Usage(err, "the server must be HOST or HOST:PORT with a port from 1 to 65535");

    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    const CAccount* found = session.Dlg().FindAccount(options.values["name"], nth);
    if (found == nullptr)
        return NoSuchAccount(err, options.values["name"], nth);

    AccountDialogRun dialog(session, *found);
    if (!dialog.IsOpen()) {
        err << "tavlo: the account dialog could not be opened\n";
        return kRefused;
    }
    const std::pair<const char*, int> texts[] = {
        {"new-name", IDC_ADD_NAME}, {"user", IDC_ADD_USER}, {"server", IDC_ADD_SERVER}};
    for (const auto& [option, id] : texts) {
        if (options.values.count(option) != 0)
            dialog.SetText(id, options.values[option]);
    }
    if (options.switches["password"])
        dialog.SetText(IDC_ADD_PASSWORD, ReadPassword(in, err));
    if (options.switches["ssl"] || options.switches["no-ssl"])
        dialog.SetChecked(IDC_ADD_SSL, options.switches["ssl"]);
    if (type >= 0)
        dialog.Choose(IDC_ADD_TYPE, type);
    dialog.Press(port::kIdOk);
    // The IMAP warning, or what OK refused.
    for (const std::string& text : dialog.TakeMessages())
        err << "tavlo: " << text << '\n';
    if (!dialog.EndedWithOk())
        return kRefused;

    // As the main window's Edit: the dialog's fields into the account, its
    // newest-message marker kept.
    CAccount* account = session.Dlg().FindAccount(options.values["name"], nth);
    dialog.Get().ApplyTo(*account);
    if (!SaveAccounts(session, err))
        return kRefused;
    return kOk;
}

// The block-sender dialog as Add (shown "") or Edit (shown the entry)
// opens it, with typed in its field and OK pressed: the text it gives
// back, or nothing when OK refused (its message said on err).
std::optional<std::string> RunBlockSenderDialog(Session& session, const char* caption,
                                                const std::string& shown, const std::string& typed,
                                                std::ostream& err) {
    DialogRun<Spam> dialog(session, IDD_SPAM, [&](Spam& spam) {
        spam.m_strCaption = caption;
        spam.m_strAddress = shown;
    });
    if (!dialog.IsOpen()) {
        err << "tavlo: the block-sender dialog could not be opened\n";
        return std::nullopt;
    }
    dialog.SetText(IDC_SPAM_ADDRESS, typed);
    dialog.Press(port::kIdOk);
    for (const std::string& text : dialog.TakeMessages())
        err << text << '\n';
    if (!dialog.EndedWithOk())
        return std::nullopt;
    return dialog.Get().m_strAddress;
}

int NoSuchBlockedSender(std::ostream& err, const std::string& text, int nth) {
    err << "tavlo: no blocked sender '" << text << "'" << (nth > 1 ? " with that number" : "")
        << '\n';
    return kRefused;
}

int CommandBlockedList(int argc, char** argv, std::ostream& out, std::ostream& err) {
    if (argc > 3)
        return Usage(err, std::string("unknown argument '") + argv[3] + "'");
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    for (const BlockedSender& entry : session.Dlg().m_blockedSenders)
        out << entry.m_strAddress << '\n';
    return kOk;
}

int CommandBlockedAdd(int argc, char** argv, std::ostream& err) {
    if (argc != 4)
        return Usage(err, "blocked add needs TEXT");
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    const std::optional<std::string> text =
        RunBlockSenderDialog(session, kAddBlockedCaption, std::string(), argv[3], err);
    if (!text)
        return kRefused;
    session.Dlg().m_blockedSenders.push_back(BlockedSender{*text});
    return session.Dlg().SaveBlockedSenders() ? kOk : kRefused;
}

int CommandBlockedEdit(int argc, char** argv, std::ostream& err) {
    if (argc < 5)
        return Usage(err, "blocked edit needs TEXT and NEWTEXT");
    Options options;
    std::string problem;
    int nth = 1;
    if (!ParseOptions(argc, argv, 5, {"nth"}, {}, options, problem) ||
        !ParseNth(options, nth, problem))
        return Usage(err, problem);
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    const BlockedSender* found = session.Dlg().FindBlockedSender(argv[3], nth);
    if (found == nullptr)
        return NoSuchBlockedSender(err, argv[3], nth);
    const std::optional<std::string> text =
        RunBlockSenderDialog(session, kEditBlockedCaption, found->m_strAddress, argv[4], err);
    if (!text)
        return kRefused;
    session.Dlg().FindBlockedSender(argv[3], nth)->m_strAddress = *text;
    return session.Dlg().SaveBlockedSenders() ? kOk : kRefused;
}

int CommandBlockedRemove(int argc, char** argv, std::ostream& err) {
    if (argc < 4)
        return Usage(err, "blocked remove needs TEXT");
    Options options;
    std::string problem;
    int nth = 1;
    if (!ParseOptions(argc, argv, 4, {"nth"}, {}, options, problem) ||
        !ParseNth(options, nth, problem))
        return Usage(err, problem);
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    if (!session.Dlg().RemoveBlockedSender(argv[3], nth))
        return NoSuchBlockedSender(err, argv[3], nth);
    return session.Dlg().SaveBlockedSenders() ? kOk : kRefused;
}

int CommandSettingsList(int argc, char** argv, std::ostream& out, std::ostream& err) {
    if (argc > 3)
        return Usage(err, std::string("unknown argument '") + argv[3] + "'");
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    const std::string exePath = port::ExecutablePath();
    for (const EditableSetting& setting : EditableSettings())
        out << setting.name << '\t' << SettingValueInEffect(session.Store(), setting, exePath)
            << '\n';
    return kOk;
}

int CommandSettingsSet(int argc, char** argv, std::ostream& err) {
    if (argc != 5)
        return Usage(err, "settings set needs NAME and VALUE");
    const std::string name = argv[3];
    const std::string value = argv[4];
    const EditableSetting* setting = FindEditableSetting(name);
    if (setting == nullptr) {
        err << "tavlo: no setting named '" << name << "'\n";
        return kRefused;
    }
    const std::string problem = SettingValueProblem(*setting, value);
    if (!problem.empty()) {
        err << "tavlo: " << problem << '\n';
        return kRefused;
    }
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    if (!StoreSetting(session.Store(), *setting, value, port::ExecutablePath(),
                      [](bool enable) { WriteAutostart(enable); })) {
        err << "tavlo: the setting could not be saved\n";
        return kRefused;
    }
    return kOk;
}

int CommandUpdateCheck(int argc, char** argv, std::ostream& out, std::ostream& err) {
    if (argc > 2)
        return Usage(err, std::string("unknown argument '") + argv[2] + "'");
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    // The box's text is the command's result.
    session.Dlg().SetMessageBoxHandler([&out](const std::string& text, const std::string&) {
        out << text << '\n';
        out.flush();
    });
    return session.Dlg().OnCheckForUpdate() == CVeskDlg::UpdateOutcome::NoConnection ? kRefused
                                                                                     : kOk;
}

// Windows-1252 bytes 0x80 ... 0x9F as Unicode; the five unassigned ones
// keep their value, as the system's conversion does.
constexpr unsigned kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// A registry string value in a version 5 .reg file: hex(1), the text in
// UTF-16LE with its terminating zero. Unlike "..." it carries line feeds.
std::string RegHexString(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "hex(1):";
    auto put = [&](unsigned byte) {
        if (out.size() > 7)
            out += ',';
        out += digits[(byte >> 4) & 0xF];
        out += digits[byte & 0xF];
    };
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        const unsigned unit = b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : b;
        put(unit & 0xFF);
        put(unit >> 8);
    }
    put(0);
    put(0);
    return out;
}

// Hidden: the stored account list as a .reg file for the Windows program
// (`wine regedit /S FILE`), so that scripts need not know the stored form.
// The file is UTF-16LE with a byte-order mark, as the registry editor
// writes it; only then is hex(1) data taken as UTF-16 text.
int CommandAccountsExportReg(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Options options;
    std::string problem;
    if (!ParseOptions(argc, argv, 3, {"app"}, {}, options, problem))
        return Usage(err, problem);
    const std::string app = options.values.count("app") ? options.values["app"] : "tavlo";
    Session session(err);
    if (!session.Open())
        return kNoDataFolder;
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\" +
        std::string(CVeskApp::kRegistryKey) + "\\" + app + "\\User]\r\n" +
        "\"Accounts\"=" + RegHexString(AccountsToText(session.Dlg().m_accounts)) + "\r\n";
    out << "\xFF\xFE";
    for (const char c : text)
        out << c << '\0';
    return kOk;
}

} // namespace

int Run(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
    if (argc < 2)
        return Usage(err, "");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        out << kUsageText;
        return kOk;
    }
    if (command == "--version") {
        out << "tavlo " << TAVLO_VERSION << '\n';
        return kOk;
    }
    if (command == "check")
        return CommandCheck(argc, argv, out, err);
    if (command == "run") {
        if (argc > 2)
            return Usage(err, std::string("unknown argument '") + argv[2] + "'");
        return CommandRun(out, err);
    }
    if (command == "accounts") {
        if (argc < 3)
            return Usage(err, "accounts needs list, add, edit, remove, test or export-reg");
        const std::string sub = argv[2];
        if (sub == "list")
            return CommandAccountsList(argc, argv, out, err);
        if (sub == "add")
            return CommandAccountsAdd(argc, argv, in, err);
        if (sub == "remove")
            return CommandAccountsRemove(argc, argv, err);
        if (sub == "edit")
            return CommandAccountsEdit(argc, argv, in, err);
        if (sub == "test")
            return CommandAccountsTest(argc, argv, out, err);
        if (sub == "export-reg")
            return CommandAccountsExportReg(argc, argv, out, err);
        return Usage(err, "unknown accounts command '" + sub + "'");
    }
    if (command == "blocked") {
        const std::string sub = argc < 3 ? std::string() : argv[2];
        if (sub == "list")
            return CommandBlockedList(argc, argv, out, err);
        if (sub == "add")
            return CommandBlockedAdd(argc, argv, err);
        if (sub == "edit")
            return CommandBlockedEdit(argc, argv, err);
        if (sub == "remove")
            return CommandBlockedRemove(argc, argv, err);
        return Usage(err, "blocked needs list, add, edit or remove");
    }
    if (command == "settings") {
        const std::string sub = argc < 3 ? std::string() : argv[2];
        if (sub == "list")
            return CommandSettingsList(argc, argv, out, err);
        if (sub == "set")
            return CommandSettingsSet(argc, argv, err);
        return Usage(err, "settings needs list or set");
    }
    if (command == "update-check")
        return CommandUpdateCheck(argc, argv, out, err);
    return Usage(err, "unknown command '" + command + "'");
}

} // namespace tavlo::cli
