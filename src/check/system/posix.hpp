// What the check's POSIX files share: the signals that end a check, and the
// listing's part in ending it.
#pragma once

// Blocks (true) or unblocks the signals an engine ends a check with.
void block_ending_signals(bool blocked);

// Ends the running listing command, its group and every process it started
// that came back to the check, and reaps them; nothing when none runs. Safe
// in a signal handler.
void end_running_listing();
