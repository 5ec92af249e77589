#pragma once
#include <cstdint>
#include "common/tstring/tstring.h"

// The record lists of the results, undo and ignore-list pages, grouped by the
// eight scan categories. A page opens a group when it adds the group's first
// row, appends its row HTML to html[g] and counts it in count[g]; the table
// then gives the scripts that put the list and the category menu into the
// page. All HTML here is the text of a script string literal: captions come
// in already escaped.
class GroupTable {
public:
    static const int32_t Groups = 8;

    // Empties the groups' HTML and counters; the captions stay.
    void Reset();
    // Appends the caption block of group g and keeps caption as its caption.
    void OpenGroup(int32_t g, const tstring& caption);
    // The rows of group g, or of all groups for any g outside 0..7.
    int32_t Count(int32_t g) const;
    // Sets the inner HTML of element id to the groups' HTML in group order.
    tstring ViewScript(const tstring& id) const;
    // The category menu: one link per non-empty group, a line break after the fourth.
    tstring MenuScript() const;
    // Adds the row of record n to the undo or ignore list, opening its group
    // first; checked rows start selected, and an empty value shows as
    // emptyValue. False for a record of no category.
    bool AddListRow(long n, int32_t errorId, const tstring& itemText, const tstring& valueText, bool checked,
                    const wchar_t* emptyValue);

    tstring html[Groups];
    tstring caption[Groups];
    int32_t count[Groups] = {};
};
