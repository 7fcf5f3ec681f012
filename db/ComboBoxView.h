#pragma once

#include <QString>

// The data-file combo box as the list operations and the relink run see it:
// an unsorted list and an edit text. The window's implementation runs its
// change handler (the link-button rule) on every change of the text.
class ComboBoxView {
public:
    virtual ~ComboBoxView() = default;
    // Empties the list and the edit text.
    virtual void clear() = 0;
    // Appends an item at the end of the list.
    virtual void addItem(const QString& item) = 0;
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
};
