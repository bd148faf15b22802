#pragma once

// The main window's states as far as its controls are concerned.
enum class WindowState {
    Ready,      // after start-up
    Running,    // while a download run goes on
    Finished,   // the run has ended; a new one needs "Nueva descarga"
    ReadyAgain, // after "Nueva descarga"
};
