#pragma once

// Runs a step whose failure changes nothing that matters: cosmetic window
// steps, cleanup on the way out, a report already being made. Whatever it
// throws is dropped.
template <typename Action> void ignoringFailures(Action&& action) noexcept
{
    try {
        action();
    } catch (...) {
    }
}
