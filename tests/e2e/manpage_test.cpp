// The man page cannot fall behind the program: every command its menu shows, every option its usage
// text names, and its version, read from the program itself.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The man page's source, line by line, without roff's font changes and with its hyphens plain.
std::vector<std::string> man_lines()
{
    std::ifstream in(std::string(QUILLOR_SOURCE_DIR) + "/doc/quillor.1");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(std::regex_replace(std::regex_replace(line, std::regex(R"(\\f[BIRP])"), ""),
                                           std::regex(R"(\\-)"), "-"));
    return lines;
}

TEST(E2eManPage, NamesEveryMenuCommandEveryOptionAndTheVersion)
{
    const std::vector<std::string> man = man_lines();
    ASSERT_GT(man.size(), 1u);
    EXPECT_NE(man[0].find("\"quillor " QUILLOR_VERSION "\""), std::string::npos) << man[0];

    // Every option the usage text names is in the tag of a paragraph (".BI -W " list_width"" reads
    // "-Wlist_width" once its blanks and quotes are out).
    int status;
    const std::string usage = quillor_piped({"--help"}, &status);
    ASSERT_EQ(status, 0);
    std::string tags;
    for (size_t i = 0; i + 1 < man.size(); ++i)
        if (man[i] == ".TP") tags += std::regex_replace(man[i + 1], std::regex("[ \"]"), "") + "\n";
    int options = 0;
    std::istringstream words(std::regex_replace(usage, std::regex(R"([][|,()])"), " "));
    for (std::string w; words >> w;) {
        if (!std::regex_match(w, std::regex("--?[A-Za-z][-A-Za-z]*|@[a-z]+"))) continue;
        ++options;
        EXPECT_NE(tags.find(w), std::string::npos) << w;
    }
    EXPECT_GE(options, 9) << "-W -T -S -P -I -h --help --version @source";

    // Every command the menu shows is a paragraph: its key, then its words as the menu has them.
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    q.send(keys::F1);
    ASSERT_TRUE(q.wait_for_text("Select an option: ")) << q.dump();
    int top = 0; // the menu grows with its commands, in the middle of the screen
    while (top < q.rows() && screen_cells(q.screen(), top, 20, 28) != "[ Menu ]") ++top;
    int commands = 0;
    for (int row = top + 1; q.screen().cell(row, 18).text == "["; ++row, ++commands) {
        const std::string item = screen_cells(q.screen(), row, 18, 61);
        const std::string key = item.substr(1, 1);
        const std::string text = item.substr(4, item.find_last_not_of(' ') - 3);
        bool found = false;
        for (size_t i = 0; i + 1 < man.size(); ++i)
            found = found || (man[i] == ".B " + key && man[i + 1].rfind(text, 0) == 0);
        EXPECT_TRUE(found) << item;
    }
    EXPECT_GE(commands, 14);
    q.send("x");
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

} // namespace
