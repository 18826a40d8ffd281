// Keys and pastes at speed: a turn takes every waiting key in order across function keys, a bracketed
// paste is text for the machines and never quillor's keys, and multicast sends the same bytes to all.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kPasteBegin = "\x1b[200~", kPasteEnd = "\x1b[201~";

// Text, F3, more text, F2, F1 and Escape in one write: the first text goes to the machine selected
// before F3, the rest to the one after, and the menu opened at the end takes only its own key.
TEST(E2eTyping, KeysKeepTheirOrderAcrossFunctionKeysInOneWrite)
{
    QuillorSession q({}, 25, 80);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 2));
    q.send("echo A_$((20+1))\r" + keys::F3 + "echo B_$((20+2))\r" + keys::F2 + "echo C_$((20+3))\r");
    ASSERT_TRUE(q.terminal_shows("C_23")) << q.dump();
    EXPECT_NE(q.terminal_text().find("A_21"), std::string::npos) << q.dump();
    EXPECT_EQ(q.terminal_text().find("B_22"), std::string::npos) << q.dump();
    ASSERT_TRUE(q.select(1)) << q.dump();
    ASSERT_TRUE(q.terminal_shows("B_22")) << q.dump();
    EXPECT_EQ(q.terminal_text().find("A_21"), std::string::npos) << q.dump();
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// Enter reaches the machine as the carriage return the terminal sent, for the programs that read it
// raw (to many of them Ctrl-J is another key).
TEST(E2eTyping, EnterReachesTheMachineAsACarriageReturn)
{
    QuillorSession q({}, 25, 80);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 1));
    // The terminal is raw before the marker shows, so the key is not translated on the remote either.
    q.send("stty raw -echo; echo RAW_$((6*7)); head -c 1 | od -An -tx1 | sed 's/^ */GOT_/'; stty sane\r");
    ASSERT_TRUE(q.terminal_shows("RAW_42")) << q.dump();
    q.send("\r");
    ASSERT_TRUE(q.terminal_shows("GOT_0d")) << q.dump();
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// A pasted "ESC O P" is not F1 and a pasted F5 is not the add prompt: the remote gets them as text
// (cat -v shows them); a shell that asked for bracketed paste gets the brackets around them, one that
// did not gets the plain text.
TEST(E2eTyping, PasteIsTextForTheMachineWithBracketsOnlyWhereAskedFor)
{
    QuillorSession q({}, 25, 80);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 1));
    q.send("printf '\\033[?2004l'; cat -v\r");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.terminal_text().find("cat -v") != std::string::npos;
    })) << q.dump();
    q.send(kPasteBegin + "x\x1bOPy" + keys::F5 + "z\r" + kPasteEnd);
    ASSERT_TRUE(q.terminal_shows("x^[OPy^[[15~z")) << q.dump();
    EXPECT_EQ(q.screen().all_text().find("Select an option"), std::string::npos) << q.dump();
    EXPECT_EQ(q.minibuf_text().find("Add:"), std::string::npos) << q.dump();
    // The interrupt empties the terminal's input: the next command waits for the prompt.
    q.send(keys::CtrlC);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.terminal_text().find("# ") != q.terminal_text().rfind("# ");
    })) << q.dump();
    q.send("printf '\\033[?2004h'; cat -v\r");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.terminal_text().find("cat -v") != q.terminal_text().rfind("cat -v");
    })) << q.dump();
    q.send(kPasteBegin + "p\r" + kPasteEnd);
    ASSERT_TRUE(q.terminal_shows("^[[200~p")) << q.dump();
    q.send("\r");
    ASSERT_TRUE(q.terminal_shows("^[[201~")) << q.dump();
    q.send(keys::CtrlC);
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// A paste in multicast reaches every tagged machine whole and in order, and none other; a paste into
// the add prompt is typed into it without its line break.
TEST(E2eTyping, PasteReachesEveryTaggedMachineAndThePrompt)
{
    QuillorSession q({}, 25, 80);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 3));
    ASSERT_TRUE(q.select(0)) << q.dump();
    q.send(keys::F4 + keys::F3 + keys::F3 + keys::F4 + keys::F7);
    std::string script;
    for (int i = 0; i < 40; ++i) script += "echo line" + std::to_string(i) + " >/dev/null\r";
    script += "echo P_$((6*7))\r";
    // A shell that asked for bracketed paste runs pasted lines only once Enter comes.
    q.send(kPasteBegin + script + kPasteEnd + "\r");
    for (int i : {2, 0}) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        EXPECT_TRUE(q.terminal_shows("P_42")) << "machine " << i << q.dump();
    }
    ASSERT_TRUE(q.select(1)) << q.dump();
    EXPECT_EQ(q.terminal_text().find("P_42"), std::string::npos) << q.dump();

    q.send(keys::F5);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind("Add: ", 0) == 0; }))
        << q.dump();
    q.send(kPasteBegin + "pasted.invalid\r\n" + kPasteEnd);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.minibuf_text().rfind("Add: pasted.invalid ", 0) == 0;
    })) << q.dump();
    q.send(keys::Escape);
    EXPECT_EQ(q.list_count(), 3);
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

std::string pasted(const std::string &text)
{
    return kPasteBegin + text + kPasteEnd;
}

// What arrives together with a paste, or in a dialog, goes where it belongs: a key right after a paste
// is that key and a second paste stays a paste; a sequence no key has (Alt with Enter, Alt with a
// letter) is one key that a dialog keeps to itself, never an Escape that closes it and letters for the
// machine; and a paste made in a popup is taken or refused whole, none of it reaching a machine.
TEST(E2eTyping, KeysAroundPastesAndInDialogsGoWhereTheyBelong)
{
    QuillorSession q({}, 25, 80);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 2));
    ASSERT_TRUE(q.select(0)) << q.dump();

    // One read: a paste, F3, a paste holding F1's bytes, Enter, F2, Enter.
    q.send(pasted("echo A_$((1+1))") + keys::F3 + pasted("echo B_$((2+2))\x1bOP") + "\r" + keys::F2 + "\r");
    ASSERT_TRUE(q.terminal_shows("A_2")) << q.dump();
    EXPECT_EQ(q.terminal_text().find("OR"), std::string::npos) << "F3 reached the machine" << q.dump();
    EXPECT_EQ(q.screen().all_text().find("Select an option"), std::string::npos) << q.dump();
    ASSERT_TRUE(q.select(1)) << q.dump();
    ASSERT_TRUE(q.terminal_shows("B_4")) << "the second paste went to the machine F3 selected" << q.dump();
    ASSERT_TRUE(q.select(0)) << q.dump();

    // A half-typed command line, then in each dialog Alt+Enter, Alt+b and Shift+F3: the dialog stays open
    // (the menu takes the first as a key that is no command, and closes), and the line is neither run
    // nor changed.
    struct Dialog {
        std::string open, status, close;
    };
    const Dialog dialogs[] = {
        {keys::F1 + "s", "history:", "q"},
        {keys::F1 + "c", "compare:", "q"},
        {keys::F5, "Add: ", keys::Escape},
        {keys::F1, "", ""},
    };
    for (const Dialog &d : dialogs) {
        SCOPED_TRACE(d.open);
        q.send("echo HALF");
        q.send(d.open);
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) {
            return d.status.empty() ? s.all_text().find("Select an option") != std::string::npos
                                    : q.minibuf_text().rfind(d.status, 0) == 0;
        })) << q.dump();
        q.send("\x1b\r");
        if (!d.status.empty()) {
            q.send("\x1b"
                   "b");
            q.send("\x1b[1;2R");
            ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
                return q.minibuf_text().rfind(d.status, 0) == 0;
            })) << q.dump();
            q.send(d.close);
        }
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
            return q.minibuf_text().find("singlecast") != std::string::npos;
        })) << q.dump();
        q.send("_$((3+4))\r");
        ASSERT_TRUE(q.terminal_shows("HALF_7")) << q.dump();
        EXPECT_EQ(q.terminal_text().find("HALF\n"), std::string::npos) << "the half line ran" << q.dump();
        q.send("clear\r");
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
            return q.terminal_text().find("HALF") == std::string::npos;
        })) << q.dump();
    }

    // A paste longer than one piece in each popup: none of it goes to the machine behind.
    const std::string big(300 * 1024, 'x');
    const Dialog popups[] = {
        {keys::F1, "", ""},
        {keys::F1 + "h", "", ""},
        {keys::F5 + "@/nonexistent/names" + keys::Enter, "Can't read that file.", ""},
        {keys::F6, "Really delete it [y/n]?", keys::Escape},
    };
    for (const Dialog &d : popups) {
        SCOPED_TRACE(d.open);
        q.send(d.open);
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) {
            return d.status.empty() ? s.all_text().find("[ Menu ]") != std::string::npos ||
                                          s.all_text().find("[ Help ]") != std::string::npos
                                    : q.minibuf_text().rfind(d.status, 0) == 0;
        })) << q.dump();
        q.send(pasted(big));
        q.send(d.close);
        ASSERT_TRUE(q.wait_for(
            [&](const ScreenReader &) { return q.minibuf_text().find("singlecast") != std::string::npos; },
            20000))
            << q.dump();
        q.send("echo C_$((5+5))\r");
        ASSERT_TRUE(q.terminal_shows("C_10")) << q.dump();
        EXPECT_EQ(q.terminal_text().find("xxx"), std::string::npos)
            << "the paste reached the machine" << q.dump();
        EXPECT_EQ(q.list_count(), 2);
    }
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

} // namespace
