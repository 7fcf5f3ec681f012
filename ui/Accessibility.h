#pragma once

// What assistive technology reads from our combo boxes. Qt names a combo box
// on Linux after its own text and leaves its meaning to the label relation,
// so a reader that follows names only announces a path or a drive. Our combo
// boxes get an interface that reports their accessible name as the name and
// their text as the value.

// Installs the interface factory once per process; call before the first
// combo box is asked for its interface (the windows do it when they are built).
void installNamedComboBoxAccessibility();
