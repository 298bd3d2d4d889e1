// The terminal display of the tolvane host. It uses nothing but a carriage
// return to redraw the status line, so it looks the same in a POSIX terminal
// and in a Windows console that knows no escape sequences.

#include "tools/tolvane/live/player_screen.h"

#include <stdio.h>

namespace {

const int SHORTEST_BAR = 10;
const int LONGEST_BAR = 40;
const char PAUSED_MARK[] = "  paused";

void clear_status(player_screen* screen) {
    if (!screen->interactive || screen->status_columns == 0) return;
    printf("\r%*s\r", (int)screen->status_columns, "");
    screen->status_columns = 0;
}

void draw_status(player_screen* screen) {
    if (!screen->interactive || screen->status.empty()) return;
    // Blanks out whatever was longer before; the cursor stays on the line.
    size_t blank = screen->status_columns > screen->status.size() ? screen->status_columns - screen->status.size() : 0;
    printf("\r%s%*s", screen->status.c_str(), (int)blank, "");
    if (blank > 0) printf("\r%s", screen->status.c_str());
    screen->status_columns = screen->status.size();
    fflush(stdout);
}

std::string progress_bar(int position_ms, int length_ms, int bar_width) {
    int filled = 0;
    if (length_ms > 0 && position_ms > 0) {
        long long scaled = (long long)position_ms * bar_width / length_ms;
        filled = scaled > bar_width ? bar_width : (int)scaled;
    }
    return "[" + std::string((size_t)filled, '#') + std::string((size_t)(bar_width - filled), '-') + "]";
}

}  // namespace

std::string format_clock(int time_ms) {
    int seconds = time_ms > 0 ? time_ms / 1000 : 0;
    char text[32];
    if (seconds >= 3600) {
        snprintf(text, sizeof text, "%d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
    } else {
        snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
    }
    return text;
}

std::string status_line(int position_ms, int length_ms, bool paused, int width) {
    std::string times = format_clock(position_ms) + " / " + format_clock(length_ms);
    std::string tail = "  " + times + (paused ? PAUSED_MARK : "");
    // One column stays free: writing into the last one wraps some terminals.
    int room = width - 1 - (int)tail.size() - 2;
    if (room < SHORTEST_BAR) return tail.substr(2);
    int bar_width = room < LONGEST_BAR ? room : LONGEST_BAR;
    return progress_bar(position_ms, length_ms, bar_width) + tail;
}

void screen_begin(player_screen* screen, bool interactive, int width) {
    *screen = player_screen();
    screen->interactive = interactive;
    screen->width = width;
}

void screen_show_keys(player_screen* screen) {
    if (screen->interactive) screen_note(screen, "keys: space pause/resume, <- -> seek 5 s, n next, q quit");
}

void screen_show_title(player_screen* screen, const std::string& title, int length_ms) {
    if (title == screen->title) return;
    screen->title = title;
    // The old item's status would flash under the new title.
    screen->status.clear();
    screen_note(screen, "playing " + title + " (" + format_clock(length_ms) + ")");
}

void screen_show_status(player_screen* screen, int position_ms, int length_ms, bool paused) {
    if (!screen->interactive) return;
    // The label takes at most a third of the line.
    std::string label = screen->label;
    size_t longest_label = (size_t)(screen->width > 0 ? screen->width / 3 : 0);
    if (label.size() > longest_label) label = longest_label > 3 ? label.substr(0, longest_label - 3) + "..." : "";
    int room = screen->width - (label.empty() ? 0 : (int)label.size() + 2);
    std::string status = (label.empty() ? "" : label + "  ") + status_line(position_ms, length_ms, paused, room);
    if (status == screen->status && screen->status_columns != 0) return;
    screen->status = status;
    draw_status(screen);
}

void screen_note(player_screen* screen, const std::string& line) {
    clear_status(screen);
    printf("%s\n", line.c_str());
    draw_status(screen);
    fflush(stdout);
}

void screen_error(player_screen* screen, const std::string& line) {
    clear_status(screen);
    fflush(stdout);
    fprintf(stderr, "%s\n", line.c_str());
    fflush(stderr);
    draw_status(screen);
}

void screen_end(player_screen* screen) {
    clear_status(screen);
    screen->status.clear();
    fflush(stdout);
}
