// The results list. The program fills "view" with one row per finding
// (grouped under caption blocks) and "menu" with the category links; this
// script, with recordList.js, keeps the check states and counters and sends
// the user's choices.
// Row N belongs to the record whose FixID is N: its table is chk_N_table, its
// check box chk_N, its ignore button ignore_btn_N.

var Results_toolbarsOn = false;
var Results_toolbar = ['FixButton', 'ignoreButton', 'saveButton', 'copyButton', 'againButton'];

// IE's setActive focuses without scrolling; other engines have focus only.
if (window.HTMLElement && HTMLElement.prototype && !HTMLElement.prototype.setActive) {
    HTMLElement.prototype.setActive = function () {
        this.focus();
    };
}

function Init() {
    RecordList_reset(0);
    byId('menu').innerHTML = '';
    showElement(byId('noIssues'), false);
    updateCounters();
}

// total: the rows of the list; ignored: the findings left out of it.
function InitCounters(total, ignored) {
    RecordList_reset(total);
    showElement(byId('noIssues'), total == 0);
    updateCounters();
}

function updateCounters() {
    setText(byId('totalCount'), RecordList_total);
    setText(byId('fixCount'), RecordList_checked);
    if (Results_toolbarsOn) {
        byId('FixButton').disabled = RecordList_checked == 0;
        byId('ignoreButton').disabled = RecordList_checked == 0;
    }
}

function setToolbars(enable) {
    var i;
    Results_toolbarsOn = enable;
    for (i = 0; i < Results_toolbar.length; i++) {
        byId(Results_toolbar[i]).disabled = !enable;
    }
    updateCounters();
}

function EnableToolbars() {
    setToolbars(true);
}

function DisableToolbars() {
    setToolbars(false);
}

// Runs the action an element names in its ONCLICKEVENT attribute. The text
// is read as a function name and a row number, never run as script: the
// list is built from registry data.
function runClickEvent(element) {
    var text = element ? element.getAttribute('ONCLICKEVENT') : null;
    var m = /^\s*(OnCheck|AddToIgnore)\(([0-9]+)\);?\s*$/.exec(text === null ? '' : String(text));
    if (!m) {
        return;
    }
    if (m[1] == 'OnCheck') {
        OnCheck(parseInt(m[2], 10));
    } else {
        AddToIgnore(parseInt(m[2], 10));
    }
}

function OnCheck(n) {
    syncRow(n);
}

// A click on a check box table: turn its box over, then its ONCLICKEVENT.
function toggleCheckTable(table) {
    var n = rowNumber(table.id);
    var box = byId('chk_' + n);
    if (!box) {
        return;
    }
    box.checked = !box.checked;
    runClickEvent(table);
}

function OnCBPropChange() {
    syncChangedBox();
}

// Enter or space on a focused check box or button acts as a click.
function OnKeyPressHandler() {
    if (isClickKey() && !keyToggleCheckTable()) {
        runClickEvent(ancestorOfClass(eventSource(), 'ambtn'));
    }
}

function setButtonLook(table, look) {
    if (!table) {
        return;
    }
    var cells = table.getElementsByTagName('TD');
    var parts = ['first', '1px', 'last'];
    var i;
    for (i = 0; i < cells.length && i < parts.length; i++) {
        cells[i].style.backgroundImage = 'url(_buttons/button_' + look + '_' + parts[i] + '.gif)';
    }
}

function OnMouseOverHandler() {
    setButtonLook(ancestorOfClass(eventSource(), 'ambtn'), 'hover');
}

function OnMouseOutHandler() {
    setButtonLook(ancestorOfClass(eventSource(), 'ambtn'), 'normal');
}

function OnMouseDownHandler() {
    setButtonLook(ancestorOfClass(eventSource(), 'ambtn'), 'normal');
}

function OnMouseUpHandler() {
    runClickEvent(ancestorOfClass(eventSource(), 'ambtn'));
}

function helpButtonClick(topic, element) {
    if (/^[A-Za-z0-9_]+$/.test(String(topic))) {
        extEvent('ErrorWebInfo', '', String(topic));
    }
}

// The caption block of the group a row belongs to.
function groupOfRow(row) {
    var node = row.previousSibling;
    while (node && !(node.nodeType == 1 && node.className == 'groupCaption')) {
        node = node.previousSibling;
    }
    return node;
}

// Takes a row out of the list and out of its group's counter; a group left
// empty loses its caption and its menu link.
function removeRow(n) {
    var row = byId('chk_' + n + '_table');
    if (!row) {
        return false;
    }
    var caption = groupOfRow(row);
    if (RecordList_unchecked['r' + n]) {
        delete RecordList_unchecked['r' + n];
    } else {
        RecordList_checked--;
    }
    RecordList_total--;
    row.parentNode.removeChild(row);
    if (caption) {
        var name = caption.id.substring('group_'.length);
        var left = rowsOfGroup(caption).length;
        var counter = byId('counter_' + name);
        if (counter) {
            setText(counter, left);
        }
        if (left == 0) {
            caption.parentNode.removeChild(caption);
            var link = byId('link_' + name);
            if (link) {
                link.parentNode.removeChild(link);
            }
        }
    }
    return true;
}

function AddToIgnore(n) {
    if (!Results_toolbarsOn || !byId('chk_' + n + '_table')) {
        return;
    }
    extEvent('Scan_SkipItem', '', n);
    removeRow(n);
    extEvent('SaveIgnore', '', '');
    showElement(byId('noIssues'), RecordList_total == 0);
    updateCounters();
}

// The program runs this after the user confirmed "IgnoreSelected".
function AddAllSelectedToIgnore() {
    var chosen = rowsChecked(byId('view'), true);
    var i;
    for (i = 0; i < chosen.length; i++) {
        extEvent('Scan_SkipItem', '', chosen[i]);
        removeRow(chosen[i]);
    }
    if (chosen.length) {
        extEvent('SaveIgnore', '', '');
    }
    showElement(byId('noIssues'), RecordList_total == 0);
    updateCounters();
}

function CheckGroup(caption, check, counterId) {
    checkGroupRows(caption, check);
    return false;
}

function fixClicked() {
    if (RecordList_checked == 0) {
        return false;
    }
    extEvent('Fix', '', uncheckedRowsText(byId('view')));
    return false;
}

function toolbarClicked(name) {
    if (name == 'SaveReport' || name == 'CONTROL_C') {
        extEvent(name, '', runningOn());
    } else {
        extEvent(name, '', '');
    }
    return false;
}

function pageLoaded() {
    OutBar_Build('RegistryScan');
    DisableToolbars();
    extEvent('Scan_InitResult', '', '');
}
