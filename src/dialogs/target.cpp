// Naming machines by pattern or by their own names, from the menu.
#include "dialogs/target.h"

#include <string>

#include "dialogs/minibuf.h"
#include "machines/compare.h"
#include "machines/match.h"
#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/redraw.h"

namespace {

constexpr size_t kPatternSize = 256; // room for 255 bytes
// A command line, and the most that one line for a machine may hold: bash reads no longer ones whole.
constexpr size_t kLineSize = 4096;
// The selected machine's name in the "To <name>: " prompt, in bytes, so that the line keeps its room.
constexpr size_t kPromptNameBytes = 32;

constexpr char kNoMatch[] = "no machine matches";

std::string g_last_goto; // what "Go to: " looked for last

bool matches(const MatchPattern &p, int i)
{
    return match_name(p.glob, mlist_machine(i)->name);
}

// What a name may put into a terminal as typed: its control bytes would be keys (a carriage return would
// run what was typed so far).
std::string typable(const std::string &name)
{
    std::string out;
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 32 && c != 127) out += c;
    return out;
}

// The name cut to about `bytes`, never inside a UTF-8 character, with "..." where it was cut.
std::string shortened(const std::string &name, size_t bytes)
{
    if (name.size() <= bytes) return name;
    size_t end = bytes - 3;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    return name.substr(0, end) + "...";
}

} // namespace

void target_tag_prompt(WINDOW *minibuf)
{
    std::string typed;
    if (!minibuf_prompt(minibuf, "Tag matching: ", kAttrPrompt, typed, kPatternSize) || typed.empty()) return;
    const MatchPattern p = match_parse(typed);
    int count = 0;
    for (int i = 0; i < mlist_count(); ++i) {
        if (!matches(p, i)) continue;
        mlist_set_tag(i, !p.negated);
        ++count;
    }
    if (count == 0) {
        redraw_set_note(kNoMatch, kAttrError);
        return;
    }
    const std::string said = std::to_string(count) + (p.negated ? " untagged" : " tagged");
    redraw_set_note(said.c_str(), kAttrText);
}

void target_goto_prompt(WINDOW *minibuf)
{
    std::string typed;
    if (!minibuf_prompt(minibuf, "Go to: ", kAttrPrompt, typed, kPatternSize)) return;
    if (typed.empty()) typed = g_last_goto;
    if (typed.empty()) return;
    g_last_goto = typed;
    const MatchPattern p = match_parse(typed);
    const int n = mlist_count();
    // The selected machine last: asked again, the same pattern goes on to the next one.
    for (int step = 1; step <= n; ++step) {
        const int i = (mlist_selected() + step) % n;
        if (matches(p, i) != p.negated) {
            mlist_select(i);
            return;
        }
    }
    redraw_set_note(kNoMatch, kAttrError);
}

void target_send_names(bool host)
{
    const int sent =
        mlist_send_each([&](const Machine &m) { return typable(host ? compare_host(m) : m.name); });
    if (sent == 0 && mlist_multicast()) redraw_set_note(kNothingSentNote, kAttrError);
}

void target_line_prompt(WINDOW *minibuf)
{
    const Machine *m = mlist_machine(mlist_selected());
    if (!m) return;
    const std::string prompt = "To " + shortened(m->name, kPromptNameBytes) + ": ";
    std::string line;
    if (minibuf_prompt(minibuf, prompt.c_str(), kAttrPrompt, line, kLineSize))
        mlist_send_selected(line + "\r");
}
