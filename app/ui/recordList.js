// The record lists of the results, undo and ignore-list pages. The program
// fills a list with one row per record, grouped under caption blocks
// ("group_" and the caption): row N is the table chk_N_table, its hidden
// check box chk_N, shown by the picture in the table chk_N_parent. A page
// includes this script after orvane.js and defines toggleCheckTable(table),
// and updateCounters() where it counts its rows with syncRow.

// The nearest element from element upwards whose class is className.
function ancestorOfClass(element, className) {
    while (element && element.nodeType == 1) {
        if (element.className == className) {
            return element;
        }
        element = element.parentNode;
    }
    return null;
}

function OnCBClick() {
    var table = ancestorOfClass(eventSource(), 'QNCHECKBOX');
    if (table) {
        toggleCheckTable(table);
    }
}

// The rows of the group whose caption block is caption.
function rowsOfGroup(caption) {
    var rows = [];
    var node = caption ? caption.nextSibling : null;
    while (node && !(node.nodeType == 1 && node.className == 'groupCaption')) {
        if (node.nodeType == 1 && node.className == 'elem') {
            rows[rows.length] = node;
        }
        node = node.nextSibling;
    }
    return rows;
}

function GoToGroup(caption) {
    var group = byId('group_' + caption);
    if (group) {
        group.scrollIntoView(true);
    }
    return false;
}

// The system the report was made on, as the report's header names it.
function runningOn() {
    var m = /Windows NT ([0-9]+\.[0-9]+)/.exec(navigator.userAgent);
    var names = { '5.0': 'Windows 2000', '5.1': 'Windows XP', '5.2': 'Windows Server 2003', '6.0': 'Windows Vista', '6.1': 'Windows 7' };
    if (!m) {
        return '';
    }
    return names[m[1]] ? names[m[1]] : 'Windows NT ' + m[1];
}

// The row number of an element id such as "chk_12", "chk_12_parent" or
// "chk_12_table"; -1 when it has none.
function rowNumber(id) {
    var m = /^chk_([0-9]+)(?:_parent|_table)?$/.exec(String(id));
    return m ? parseInt(m[1], 10) : -1;
}

// The rows' check boxes in container; its other inputs are left out.
function rowBoxes(container) {
    var inputs = container.getElementsByTagName('INPUT');
    var boxes = [];
    var i;
    for (i = 0; i < inputs.length; i++) {
        if (rowNumber(inputs[i].id) >= 0) {
            boxes[boxes.length] = inputs[i];
        }
    }
    return boxes;
}

// The numbers of the rows in container whose box is checked, or unchecked.
function rowsChecked(container, checked) {
    var boxes = rowBoxes(container);
    var rows = [];
    var i;
    for (i = 0; i < boxes.length; i++) {
        if (boxes[i].checked == checked) {
            rows[rows.length] = rowNumber(boxes[i].id);
        }
    }
    return rows;
}

// The unchecked rows as the program reads them: each number after a space.
function uncheckedRowsText(container) {
    var rows = rowsChecked(container, false);
    return rows.length ? ' ' + rows.join(' ') : '';
}

// Enter or space on a focused check box or button acts as a click.
function isClickKey() {
    var e = window.event;
    var key = e ? e.keyCode || e.which : 0;
    return key == 13 || key == 32;
}

// Turns over the box of the check box table a click key was pressed on;
// false when the key or the element was another.
function keyToggleCheckTable() {
    var table = ancestorOfClass(eventSource(), 'QNCHECKBOX');
    if (!isClickKey() || !table) {
        return false;
    }
    toggleCheckTable(table);
    return true;
}

// Check state per row as last counted: rows start checked, and a row turned
// off is kept as 'r' and its number.
var RecordList_unchecked = {};
var RecordList_total = 0;
var RecordList_checked = 0;

// total rows, all of them checked.
function RecordList_reset(total) {
    RecordList_total = total;
    RecordList_checked = total;
    RecordList_unchecked = {};
}

// Brings the counters and the row's picture in line with its check box.
function syncRow(n) {
    var box = byId('chk_' + n);
    if (!box) {
        return;
    }
    var wasChecked = !RecordList_unchecked['r' + n];
    if (box.checked != wasChecked) {
        if (box.checked) {
            delete RecordList_unchecked['r' + n];
            RecordList_checked++;
        } else {
            RecordList_unchecked['r' + n] = true;
            RecordList_checked--;
        }
    }
    var parent = byId('chk_' + n + '_parent');
    var images = parent ? parent.getElementsByTagName('IMG') : [];
    if (images.length) {
        images[0].src = box.checked ? 'check_filled.gif' : 'check_empty.gif';
    }
    updateCounters();
}

// IE tells a box's new state by onpropertychange.
function syncChangedBox() {
    var e = window.event;
    if (e && e.propertyName && e.propertyName != 'checked') {
        return;
    }
    var n = rowNumber(eventSource() ? eventSource().id : '');
    if (n >= 0) {
        syncRow(n);
    }
}

// Checks or unchecks every row of the group whose caption is caption.
function checkGroupRows(caption, check) {
    var rows = rowsOfGroup(byId('group_' + caption));
    var i;
    for (i = 0; i < rows.length; i++) {
        var n = rowNumber(rows[i].id);
        var box = byId('chk_' + n);
        if (box && box.checked != check) {
            box.checked = check;
            syncRow(n);
        }
    }
}
