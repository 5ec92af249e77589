// The settings and ignore-list page: one file, two modes ("#ignore" or
// "#settings"). The program fills the fields and "view" (rows chk_N, N the
// ignore index, unchecked) and keeps every edit until "apply". Record texts
// arrive as escaped script-literal HTML; nothing here runs them.

var Config_toolbar = ['deleteButton', 'deleteAllButton', 'exportButton', 'importButton', 'saveButton', 'copyButton', 'printButton'];
var Config_controlsOn = true;

function ignoreMode() {
    return pageQuery() == 'ignore';
}

// Counts rows and checked rows from the boxes themselves (IE's
// onpropertychange is not everywhere, clicks count too).
function Counter() {
    var boxes = rowBoxes(byId('view'));
    var checked = 0;
    var i;
    for (i = 0; i < boxes.length; i++) {
        var parent = byId(boxes[i].id + '_parent');
        var images = parent ? parent.getElementsByTagName('IMG') : [];
        if (images.length) {
            images[0].src = boxes[i].checked ? 'check_filled.gif' : 'check_empty.gif';
        }
        checked += boxes[i].checked ? 1 : 0;
    }
    setText(byId('ignoreCount'), boxes.length);
    setText(byId('selectedCount'), checked);
    byId('deleteButton').disabled = !Config_controlsOn || checked == 0;
    byId('deleteAllButton').disabled = !Config_controlsOn || boxes.length == 0;
}

function toggleCheckTable(table) {
    var box = byId('chk_' + rowNumber(table.id));
    if (box) {
        box.checked = !box.checked;
        Counter();
    }
}

function OnKeyPressHandler() {
    keyToggleCheckTable();
}

function CheckGroup(caption, check, counterId) {
    var rows = rowsOfGroup(byId('group_' + caption));
    var i;
    for (i = 0; i < rows.length; i++) {
        var box = byId('chk_' + rowNumber(rows[i].id));
        if (box) {
            box.checked = check;
        }
    }
    Counter();
    return false;
}

function DelAllIgnore() {
    byId('view').innerHTML = '';
    byId('menu').innerHTML = '';
    Counter();
}

function DisableToolbars() {
    var i;
    for (i = 0; i < Config_toolbar.length; i++) {
        byId(Config_toolbar[i]).disabled = true;
    }
}

function EnableToolbarsEx() {
    var i;
    for (i = 0; i < Config_toolbar.length; i++) {
        byId(Config_toolbar[i]).disabled = false;
    }
    Counter();
}

function EnableControls(enable) {
    var ids = ['netshares', 'removable', 'undoBrowse', 'bkpBrowse', 'backupSwitch', 'delOldBackups', 'resetButton'];
    var i;
    Config_controlsOn = enable !== false;
    for (i = 0; i < ids.length; i++) {
        byId(ids[i]).disabled = !Config_controlsOn;
    }
}

function Init() {
    Counter();
}

function skipClicked() {
    var mask = (byId('netshares').checked ? 2 : 0) + (byId('removable').checked ? 4 : 0);
    extEvent('SkipParams', '', mask);
}

function browseClicked(id) {
    extEvent('BrowseForFolder', '', id);
    return false;
}

function switchClicked(name, id) {
    extEvent(name, '', byId(id).checked);
}

function deleteClicked() {
    var chosen = rowsChecked(byId('view'), true);
    if (chosen.length) {
        extEvent('DeleteSelected', '', chosen.join(' '));
    }
    return false;
}

function sendClicked(name, param) {
    extEvent(name, '', param);
    return false;
}

function pageLoaded() {
    var ignore = ignoreMode();
    OutBar_Build(ignore ? 'Ignores' : 'Configuration');
    showElement(byId('settingsPart'), !ignore);
    showElement(byId('ignorePart'), ignore);
    extEvent('pageLoaded', '', '');
}
