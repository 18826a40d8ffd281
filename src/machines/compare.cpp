// Grouping the machines' answers to the last multicast command.
#include "machines/compare.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <sstream>
#include <unordered_map>

#include "machines/history.h"
#include "machines/mlist.h"

namespace {

// ssh options that take the next word as their value: that word is not the destination.
constexpr std::string_view kOptionsWithValue = "BbcDEeFIiJLlmOoPpQRSWw";

std::string_view trim_right(std::string_view line)
{
    size_t end = line.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : line.substr(0, end + 1);
}

// One pass over the text: replacing in place would move the rest of a long answer at every name.
// `names` come longest first, so that where two start at one place the longer is replaced whole.
std::string replace_names(std::string_view text, const std::vector<std::string> &names)
{
    std::string out;
    out.reserve(text.size());
    std::vector<size_t> next(names.size(), 0); // where each name occurs next, from `at` on
    for (size_t i = 0; i < names.size(); ++i)
        next[i] = names[i].empty() ? std::string_view::npos : text.find(names[i]);
    size_t at = 0;
    for (;;) {
        size_t best = names.size();
        for (size_t i = 0; i < names.size(); ++i) {
            if (next[i] != std::string_view::npos && next[i] < at) next[i] = text.find(names[i], at);
            if (next[i] != std::string_view::npos && (best == names.size() || next[i] < next[best])) best = i;
        }
        if (best == names.size()) break;
        out.append(text.substr(at, next[best] - at));
        out += kCompareHost;
        at = next[best] + names[best].size();
    }
    out.append(text.substr(at));
    return out;
}

// The marks in the list are set again at most this often: a redraw comes with every piece of output.
constexpr std::chrono::milliseconds kMarksRefresh{300};

std::chrono::steady_clock::time_point g_last_refresh;
bool g_refresh_due = false; // a refresh was held back: the answers may have changed since the last one

} // namespace

CompareAnswer compare_answer(std::string_view output, const std::vector<std::string> &names)
{
    std::vector<std::string_view> lines;
    for (size_t from = 0; from < output.size();) {
        size_t nl = output.find('\n', from);
        if (nl == std::string_view::npos) nl = output.size();
        lines.push_back(trim_right(output.substr(from, nl - from)));
        from = nl + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    CompareAnswer answer;
    if (lines.size() < 2) return answer;
    // The prompt is back when the last line starts the command's line and adds nothing to it.
    std::string_view command = lines.front(), last = lines.back();
    size_t end = lines.size();
    if (command.starts_with(last)) {
        answer.done = true;
        --end;
        while (end > 1 && lines[end - 1].empty()) --end;
    }
    for (size_t i = 1; i < end; ++i) {
        answer.text += lines[i];
        answer.text += '\n';
    }
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end(),
              [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
    answer.text = replace_names(answer.text, sorted);
    return answer;
}

std::vector<std::vector<int>> compare_group(const std::vector<std::string> &texts)
{
    // Hashes find the candidates; the texts decide, so that a collision never merges two answers.
    std::unordered_multimap<size_t, size_t> by_hash;
    std::vector<std::vector<int>> groups;
    std::hash<std::string> hash;
    for (size_t i = 0; i < texts.size(); ++i) {
        size_t h = hash(texts[i]);
        auto [first, last] = by_hash.equal_range(h);
        auto same = std::find_if(first, last, [&](const auto &entry) {
            return texts[static_cast<size_t>(groups[entry.second].front())] == texts[i];
        });
        if (same != last) {
            groups[same->second].push_back(static_cast<int>(i));
        } else {
            by_hash.emplace(h, groups.size());
            groups.push_back({static_cast<int>(i)});
        }
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const auto &a, const auto &b) { return a.size() > b.size(); });
    return groups;
}

std::vector<std::string> compare_names(const Machine &m)
{
    std::vector<std::string> names{m.name};
    std::istringstream words(m.connection);
    std::string word;
    while (words >> word) {
        if (word.size() >= 2 && word[0] == '-') {
            // "-p 22" takes the next word, "-p22" does not.
            if (word.size() == 2 && kOptionsWithValue.find(word[1]) != std::string_view::npos) words >> word;
            continue;
        }
        size_t at = word.rfind('@');
        std::string host = at == std::string::npos ? word : word.substr(at + 1);
        if (!host.empty()) {
            names.push_back(host);
            size_t dot = host.find('.');
            bool numeric = host.find_first_not_of("0123456789.") == std::string::npos;
            if (dot != std::string::npos && dot > 0 && !numeric) names.push_back(host.substr(0, dot));
        }
        break;
    }
    return names;
}

void compare_mark_sent()
{
    for (int i = 0; i < mlist_count(); ++i) {
        Machine *m = mlist_machine(i);
        m->answering = m->tagged;
        m->odd_answer = 0;
        if (m->answering) m->answer_mark = history_mark(m->history, m->term.get());
    }
    g_last_refresh = {};
}

CompareState compare_state()
{
    CompareState state;
    std::vector<int> answered;
    std::vector<std::string> texts;
    for (int i = 0; i < mlist_count(); ++i) {
        Machine *m = mlist_machine(i);
        m->odd_answer = 0;
        if (!m->answering) continue;
        state.any = true;
        if (m->answer_mark < history_begin(m->history)) state.clipped = true;
        std::string output = history_text_since(m->history, m->term.get(), m->answer_mark);
        CompareAnswer answer = compare_answer(output, compare_names(*m));
        // A dead machine's answer is all it will ever say.
        if (!answer.done && m->alive) {
            state.printing.push_back(i);
            continue;
        }
        answered.push_back(i);
        texts.push_back(std::move(answer.text));
    }
    for (const std::vector<int> &group : compare_group(texts)) {
        CompareGroup g;
        for (int k : group) g.machines.push_back(answered[static_cast<size_t>(k)]);
        g.text = texts[static_cast<size_t>(group.front())];
        state.groups.push_back(std::move(g));
    }
    for (size_t k = 1; k < state.groups.size(); ++k)
        for (int i : state.groups[k].machines) mlist_machine(i)->odd_answer = 1;
    return state;
}

void compare_refresh_marks()
{
    bool any = false;
    for (int i = 0; i < mlist_count() && !any; ++i) any = mlist_machine(i)->answering;
    g_refresh_due = false;
    if (!any) return;
    auto now = std::chrono::steady_clock::now();
    if (now - g_last_refresh < kMarksRefresh) {
        g_refresh_due = true;
        return;
    }
    g_last_refresh = now;
    compare_state();
}

int compare_marks_due_ms()
{
    if (!g_refresh_due) return -1;
    auto left = g_last_refresh + kMarksRefresh - std::chrono::steady_clock::now();
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(
        0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}
