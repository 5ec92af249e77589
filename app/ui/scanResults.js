// The results list. The program fills "view" with one row per finding
// (grouped under caption blocks) and "menu" with the category links; this
// script keeps the check states and counters and sends the user's choices.
// Row N belongs to the record whose FixID is N: its table is chk_N_table, its
// check box chk_N, its ignore button ignore_btn_N.

// Check state per row as last counted (rows start checked).
var Results_unchecked = {};
var Results_total = 0;
var Results_checked = 0;
var Results_toolbarsOn = false;
var Results_toolbar = ['FixButton', 'ignoreButton', 'saveButton', 'copyButton', 'againButton'];

// IE's setActive focuses without scrolling; other engines have focus only.
if (window.HTMLElement && HTMLElement.prototype && !HTMLElement.prototype.setActive) {
    HTMLElement.prototype.setActive = function () {
        this.focus();
    };
}

function Init() {
    Results_unchecked = {};
    Results_total = 0;
    Results_checked = 0;
    byId('menu').innerHTML = '';
    showElement(byId('noIssues'), false);
    updateCounters();
}

// total: the rows of the list; ignored: the findings left out of it.
function InitCounters(total, ignored) {
    Results_total = total;
    Results_checked = total;
    Results_unchecked = {};
    showElement(byId('noIssues'), total == 0);
    updateCounters();
}

function updateCounters() {
    setText(byId('totalCount'), Results_total);
    setText(byId('fixCount'), Results_checked);
    if (Results_toolbarsOn) {
        byId('FixButton').disabled = Results_checked == 0;
        byId('ignoreButton').disabled = Results_checked == 0;
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

// The FixID of an element id such as "chk_12", "chk_12_parent" or
// "ignore_btn_12"; -1 when it has none.
function rowNumber(id) {
    var m = /^(?:chk|ignore_btn)_([0-9]+)(?:_parent|_table)?$/.exec(String(id));
    return m ? parseInt(m[1], 10) : -1;
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

// Brings the counters and the row's picture in line with its check box.
function syncRow(n) {
    var box = byId('chk_' + n);
    if (!box) {
        return;
    }
    var wasChecked = !Results_unchecked['r' + n];
    if (box.checked != wasChecked) {
        if (box.checked) {
            delete Results_unchecked['r' + n];
            Results_checked++;
        } else {
            Results_unchecked['r' + n] = true;
            Results_checked--;
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

// IE tells a box's new state by onpropertychange.
function OnCBPropChange() {
    var e = window.event;
    if (e && e.propertyName && e.propertyName != 'checked') {
        return;
    }
    var n = rowNumber(eventSource() ? eventSource().id : '');
    if (n >= 0) {
        syncRow(n);
    }
}

// Enter or space on a focused check box or button acts as a click.
function OnKeyPressHandler() {
    var e = window.event;
    var key = e ? e.keyCode || e.which : 0;
    if (key != 13 && key != 32) {
        return;
    }
    var source = eventSource();
    var table = ancestorOfClass(source, 'QNCHECKBOX');
    if (table) {
        toggleCheckTable(table);
        return;
    }
    runClickEvent(ancestorOfClass(source, 'ambtn'));
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
    if (Results_unchecked['r' + n]) {
        delete Results_unchecked['r' + n];
    } else {
        Results_checked--;
    }
    Results_total--;
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
    showElement(byId('noIssues'), Results_total == 0);
    updateCounters();
}

// The program runs this after the user confirmed "IgnoreSelected".
function AddAllSelectedToIgnore() {
    var boxes = byId('view').getElementsByTagName('INPUT');
    var chosen = [];
    var i;
    for (i = 0; i < boxes.length; i++) {
        var n = rowNumber(boxes[i].id);
        if (n >= 0 && boxes[i].checked) {
            chosen[chosen.length] = n;
        }
    }
    for (i = 0; i < chosen.length; i++) {
        extEvent('Scan_SkipItem', '', chosen[i]);
        removeRow(chosen[i]);
    }
    if (chosen.length) {
        extEvent('SaveIgnore', '', '');
    }
    showElement(byId('noIssues'), Results_total == 0);
    updateCounters();
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

function fixClicked() {
    var boxes = byId('view').getElementsByTagName('INPUT');
    var excluded = '';
    var i;
    if (Results_checked == 0) {
        return false;
    }
    for (i = 0; i < boxes.length; i++) {
        var n = rowNumber(boxes[i].id);
        if (n >= 0 && !boxes[i].checked) {
            excluded += ' ' + n;
        }
    }
    extEvent('Fix', '', excluded);
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
