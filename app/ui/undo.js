// The undo page. The program lists the fix sessions (AddUndoItem) and picks
// one (SelectUndoItem); the page asks for its fixes ("ShowUndoData"), which
// the program puts into "itemsList" as rows chk_N (N: the fix's number in
// the session, all checked) grouped under caption blocks. Unchecked rows are
// sent with "UndoFixes". Session texts are shown as text, never as markup.

var Undo_unchecked = {};
var Undo_total = 0;
var Undo_checked = 0;
var Undo_sessions = 0;
var Undo_selected = -1;
var Undo_busy = false;
var ShowUndoDataError = false;
var Undo_toolbar = ['undoButton', 'deleteButton', 'saveButton', 'copyButton', 'printButton'];

function updateCounters() {
    setText(byId('totalCount'), Undo_total);
    setText(byId('undoCount'), Undo_checked);
    var i;
    for (i = 0; i < Undo_toolbar.length; i++) {
        byId(Undo_toolbar[i]).disabled = Undo_busy || Undo_selected < 0 || ShowUndoDataError;
    }
    if (!Undo_busy && Undo_checked == 0) {
        byId('undoButton').disabled = true;
    }
}

// Every box checked again; the count stays the one setCounter gave.
function Init() {
    Undo_unchecked = {};
    Undo_checked = Undo_total;
    ShowUndoDataError = false;
    byId('menu').innerHTML = '';
    updateCounters();
}

function setCounter(n) {
    Undo_total = n;
    Undo_checked = n;
    Undo_unchecked = {};
    updateCounters();
}

function handsOn() {
    Undo_busy = false;
    updateCounters();
}

function sessionClicked(i) {
    if (Undo_busy || i == Undo_selected && !ShowUndoDataError) {
        return false;
    }
    SelectUndoItem(i);
    return false;
}

function AddUndoItem(i, date, time, fixes) {
    var entry = document.createElement('DIV');
    entry.id = 'session_' + i;
    entry.className = 'session';
    var link = document.createElement('A');
    link.href = '#';
    link.onclick = function () {
        return sessionClicked(i);
    };
    setText(link, date + ', ' + time + ' (' + fixes + (fixes == 1 ? ' fix)' : ' fixes)'));
    entry.appendChild(link);
    byId('undoList').appendChild(entry);
    Undo_sessions++;
}

function SelectUndoItem(i) {
    var entries = byId('undoList').getElementsByTagName('DIV');
    var k;
    for (k = 0; k < entries.length; k++) {
        entries[k].style.fontWeight = entries[k].id == 'session_' + i ? 'bold' : 'normal';
    }
    Undo_sessions = entries.length;
    Undo_selected = byId('session_' + i) ? i : -1;
    showElement(byId('noSessions'), Undo_selected < 0);
    if (Undo_selected < 0) {
        byId('itemsList').innerHTML = '';
        Undo_total = 0;
        Init();
        return;
    }
    Undo_busy = true;
    updateCounters();
    extEvent('ShowUndoData', '', i);
}

function rowNumber(id) {
    var m = /^chk_([0-9]+)(?:_parent|_table)?$/.exec(String(id));
    return m ? parseInt(m[1], 10) : -1;
}

// Brings the counters and the row's picture in line with its check box.
function syncRow(n) {
    var box = byId('chk_' + n);
    if (!box) {
        return;
    }
    var wasChecked = !Undo_unchecked['r' + n];
    if (box.checked != wasChecked) {
        if (box.checked) {
            delete Undo_unchecked['r' + n];
            Undo_checked++;
        } else {
            Undo_unchecked['r' + n] = true;
            Undo_checked--;
        }
    }
    var parent = byId('chk_' + n + '_parent');
    var images = parent ? parent.getElementsByTagName('IMG') : [];
    if (images.length) {
        images[0].src = box.checked ? 'check_filled.gif' : 'check_empty.gif';
    }
    updateCounters();
}

function OnCheck(n) {
    syncRow(n);
}

function toggleCheckTable(table) {
    var n = rowNumber(table.id);
    var box = byId('chk_' + n);
    if (box) {
        box.checked = !box.checked;
        syncRow(n);
    }
}

// IE tells a box's new state by onpropertychange; clicks count it elsewhere.
function Counter() {
    var e = window.event;
    if (e && e.propertyName && e.propertyName != 'checked') {
        return;
    }
    var n = rowNumber(eventSource() ? eventSource().id : '');
    if (n >= 0) {
        syncRow(n);
    }
}

function OnKeyPressHandler() {
    var e = window.event;
    var key = e ? e.keyCode || e.which : 0;
    var table = ancestorOfClass(eventSource(), 'QNCHECKBOX');
    if ((key == 13 || key == 32) && table) {
        toggleCheckTable(table);
    }
}

function CheckGroup(caption, check, counterId) {
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
    return false;
}

function undoClicked() {
    var boxes = byId('itemsList').getElementsByTagName('INPUT');
    var excluded = '';
    var all = true;
    var i;
    if (Undo_busy || Undo_checked == 0) {
        return false;
    }
    for (i = 0; i < boxes.length; i++) {
        var n = rowNumber(boxes[i].id);
        if (n >= 0 && !boxes[i].checked) {
            excluded += ' ' + n;
            all = false;
        }
    }
    Undo_busy = true;
    updateCounters();
    extEvent('UndoFixes', '', all ? '' : excluded);
    return false;
}

function toolbarClicked(name) {
    if (Undo_busy || Undo_selected < 0) {
        return false;
    }
    extEvent(name, '', name == 'DeleteSession' ? '' : runningOn());
    return false;
}

function pageLoaded() {
    OutBar_Build('Undo');
    Init();
    extEvent('pageLoaded', '', '');
}
