// The undo page. The program lists the fix sessions (AddUndoItem) and picks
// one (SelectUndoItem); the page asks for its fixes ("ShowUndoData"), which
// the program puts into "itemsList" as rows chk_N (N: the fix's number in
// the session, all checked) grouped under caption blocks. Unchecked rows are
// sent with "UndoFixes". Session texts are shown as text, never as markup.

var Undo_sessions = 0;
var Undo_selected = -1;
var Undo_busy = false;
var ShowUndoDataError = false;
var Undo_toolbar = ['undoButton', 'deleteButton', 'saveButton', 'copyButton', 'printButton'];

function updateCounters() {
    setText(byId('totalCount'), RecordList_total);
    setText(byId('undoCount'), RecordList_checked);
    var i;
    for (i = 0; i < Undo_toolbar.length; i++) {
        byId(Undo_toolbar[i]).disabled = Undo_busy || Undo_selected < 0 || ShowUndoDataError;
    }
    if (!Undo_busy && RecordList_checked == 0) {
        byId('undoButton').disabled = true;
    }
}

// Every box checked again; the count stays the one setCounter gave.
function Init() {
    RecordList_reset(RecordList_total);
    ShowUndoDataError = false;
    byId('menu').innerHTML = '';
    updateCounters();
}

function setCounter(n) {
    RecordList_reset(n);
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
        RecordList_total = 0;
        Init();
        return;
    }
    Undo_busy = true;
    updateCounters();
    extEvent('ShowUndoData', '', i);
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

// Clicks count a box's new state elsewhere.
function Counter() {
    syncChangedBox();
}

function OnKeyPressHandler() {
    keyToggleCheckTable();
}

function CheckGroup(caption, check, counterId) {
    checkGroupRows(caption, check);
    return false;
}

// All rows checked: the list of the ones left out is empty.
function undoClicked() {
    if (Undo_busy || RecordList_checked == 0) {
        return false;
    }
    var excluded = uncheckedRowsText(byId('itemsList'));
    Undo_busy = true;
    updateCounters();
    extEvent('UndoFixes', '', excluded);
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
