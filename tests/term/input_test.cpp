// What goes to a child: typed text and pastes arrive whole and in order however slowly the child
// reads, pastes carry brackets only for a program that asked for them, and a child that asks
// questions without reading the answers cannot make the program grow.
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/vt_text.h"
#include "term/tarvik.h"
#include "term/vt_internal.h"

namespace {

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

struct Child {
    Vt vt;
    pid_t pid;
    Child(int rows, int cols, const Script &script) : vt(tarvik_vt_create(rows, cols))
    {
        pid = tarvik_vt_forkpty(vt.get(), script.path.c_str());
    }
    ~Child()
    {
        vt.reset();
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    bool shows(const std::string &text, int timeout_ms = 5000)
    {
        auto shown = [&] { return vt_screen_text(vt.get()).find(text) != std::string::npos; };
        return vt_pump_until(vt.get(), shown, timeout_ms);
    }
};

std::string hex(const std::string &bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        snprintf(buf, sizeof buf, "%02x", c);
        out += buf;
    }
    return out;
}

TEST(ChildInput, PasteIsBracketedExactlyWhenTheProgramAskedAndCannotBeEndedFromInside)
{
    const std::string open = "\x1b[200~", close = "\x1b[201~";
    struct Case {
        const char *what;
        bool mode;
        std::string paste, arrives;
    } cases[] = {
        {"brackets for a program that asked", true, "ls\r", open + "ls\r" + close},
        {"plain text for one that did not", false, "ls\r", "ls\r"},
        {"a pasted end bracket is left out", true, "a" + close + "rm x\r", open + "arm x\r" + close},
        {"and one that removing another makes", true, "\x1b[20" + close + "1~b", open + "b" + close},
        {"a program that did not ask gets the text as it was", false, "a" + close, "a" + close},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // The program reads what arrives up to a final dot, so nothing can hide after the paste.
        Script s(std::string("stty raw -echo; ") + (c.mode ? "printf '\\033[?2004h'; " : "") +
                 "echo READY; head -c " + std::to_string(c.arrives.size() + 1) +
                 " | od -An -tx1 | tr -d ' \\n'; echo; echo END; sleep 5");
        Child child(5, 80, s);
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(child.shows("READY"));
        tarvik_vt_paste(child.vt.get(), c.paste.data(), c.paste.size());
        tarvik_vt_send(child.vt.get(), ".", 1);
        ASSERT_TRUE(child.shows("END"));
        EXPECT_NE(vt_screen_text(child.vt.get()).find(hex(c.arrives + ".")), std::string::npos)
            << vt_screen_text(child.vt.get());
    }
}

TEST(ChildInput, PasteBeyondTheBoundIntoASlowReaderArrivesWholeAndInOrder)
{
    // Numbered lines, so that a lost, doubled or moved piece changes the sum.
    std::string text;
    for (int i = 0; text.size() < 3 * kTarvikInputMax; ++i) text += std::to_string(i) + "\n";
    TempDir dir;
    FILE *p = popen(("md5sum < " + dir.write("paste", text)).c_str(), "r");
    char buf[64] = {};
    ASSERT_NE(fgets(buf, sizeof buf, p), nullptr);
    pclose(p);
    std::string want = std::string(buf).substr(0, 32);

    // The program reads nothing for a while, then takes the paste in small pieces.
    Script s("stty raw -echo; echo READY; sleep 0.5; head -c " + std::to_string(text.size()) +
             " | dd bs=512 2>/dev/null | md5sum; echo END; sleep 5");
    Child child(5, 80, s);
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(child.shows("READY"));
    tarvik_vt_paste(child.vt.get(), text.data(), text.size());
    EXPECT_EQ(tarvik_vt_input_room(child.vt.get()), 0u) << "a paste past the bound leaves no room";
    ASSERT_TRUE(child.shows("END", 60000));
    EXPECT_NE(vt_screen_text(child.vt.get()).find(want), std::string::npos) << vt_screen_text(child.vt.get());
    EXPECT_EQ(tarvik_vt_input_room(child.vt.get()), kTarvikInputMax);
}

TEST(ChildInput, RepliesToAChildThatNeverReadsThemStopAtACapWhileTypedInputIsKept)
{
    // Asks for the device attributes without end and never reads a reply.
    Script s("stty raw -echo; yes \"$(printf '\\033[c')\"");
    Child child(5, 40, s);
    ASSERT_GT(child.pid, 0);
    const PtyQueue &q = child.vt->out_queue;
    vt_pump_until(
        child.vt.get(), [] { return false; }, 1500);
    size_t replies = q.reply_bytes;
    EXPECT_GT(replies, 0u) << "the replies should have backed up";
    vt_pump_until(
        child.vt.get(), [] { return false; }, 500);
    EXPECT_EQ(q.reply_bytes, replies) << "replies grew without limit";
    EXPECT_LE(q.bytes.size(), 64u * 1024);

    // What the user types is never dropped, and only it counts against the room.
    std::string typed(100000, 'x');
    tarvik_vt_send(child.vt.get(), typed.data(), typed.size());
    EXPECT_EQ(q.pending(), replies + typed.size());
    EXPECT_EQ(tarvik_vt_input_room(child.vt.get()), kTarvikInputMax - typed.size());
}

} // namespace
