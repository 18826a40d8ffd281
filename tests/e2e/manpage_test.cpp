// The man page cannot fall behind the program: every command its menu shows, every option its usage
// text names, and its version, read from the program itself.
#include "support/piped_run.h"
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
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

// The words of a paragraph's tag (".BI -W " list_width"", ".BR -h ", " --help"): the macros that
// alternate fonts join their arguments without blanks.
std::vector<std::string> tag_words(const std::string &line)
{
    std::smatch m;
    if (!std::regex_match(line, m, std::regex(R"(\.(B|I|BI|IB|BR|RB|IR|RI) (.*))"))) return {};
    const std::string rest = m[2];
    std::string text;
    const std::regex argument(R"x("([^"]*)"|(\S+))x");
    for (auto a = std::sregex_iterator(rest.begin(), rest.end(), argument); a != std::sregex_iterator(); ++a)
        text +=
            (m[1].length() == 1 && !text.empty() ? " " : "") + ((*a)[1].matched ? (*a)[1] : (*a)[2]).str();
    std::vector<std::string> words;
    std::istringstream in(std::regex_replace(text, std::regex(","), " "));
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

TEST(E2eManPage, NamesEveryMenuCommandEveryOptionAndTheVersion)
{
    const std::vector<std::string> man = man_lines();
    ASSERT_GT(man.size(), 1u);
    EXPECT_NE(man[0].find("\"quillor " QUILLOR_VERSION "\""), std::string::npos) << man[0];

    // Every option the usage text names is the tag of a paragraph of its own.
    const PipedRun usage = piped_run({QUILLOR_BINARY, "--help"});
    ASSERT_EQ(usage.status, 0);
    std::set<std::string> options;
    std::istringstream words(std::regex_replace(usage.out, std::regex(R"([][|,()])"), " "));
    for (std::string w; words >> w;)
        if (std::regex_match(w, std::regex("--?[A-Za-z][-A-Za-z]*|@[a-z]+"))) options.insert(w);
    EXPECT_EQ(options.size(), 7u) << "-W -T -S -h --help --version @source";
    std::set<std::string> tags;
    for (size_t i = 0; i + 1 < man.size(); ++i)
        if (man[i] == ".TP")
            for (const std::string &w : tag_words(man[i + 1])) tags.insert(w);
    for (const std::string &option : options) EXPECT_TRUE(tags.count(option)) << option;

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
