// What tolvane shows while it plays or renders. On a terminal: a line per
// title (a bank's entries each get one as they come) and below them a status
// line redrawn in place with a progress bar, position / length and the paused
// state. Elsewhere: plain lines only, one per title and per change of state.
#pragma once

#include <string>

// "m:ss", or "h:mm:ss" from an hour on; negative times show as 0:00.
std::string format_clock(int time_ms);
// A status line no wider than width columns:
// "[########----------------]  0:12 / 0:45  paused". The bar shrinks to fit
// and is left out when even a short one would not.
std::string status_line(int position_ms, int length_ms, bool paused, int width);

struct player_screen {
    bool interactive = false;
    int width = 80;
    // Shown in front of the status line: the file a render is on.
    std::string label;
    std::string title;
    std::string status;
    // Columns of the status line now on the screen, to be blanked out.
    size_t status_columns = 0;
};

// interactive chooses the redrawn status line, width columns wide at most;
// off, only plain lines.
void screen_begin(player_screen* screen, bool interactive, int width);
// Shows the keys once, on a terminal.
void screen_show_keys(player_screen* screen);
// A new title (or a bank's next entry) gets a line of its own.
void screen_show_title(player_screen* screen, const std::string& title, int length_ms);
// Redraws the status line when its text changed; nothing in plain mode.
void screen_show_status(player_screen* screen, int position_ms, int length_ms, bool paused);
// A line of its own on standard output, above the status line.
void screen_note(player_screen* screen, const std::string& line);
// A line on standard error, above the status line.
void screen_error(player_screen* screen, const std::string& line);
// Blanks the status line, leaving the cursor at the start of a clean line.
void screen_end(player_screen* screen);
