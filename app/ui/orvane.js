// Script shared by every page of the program. Page script must run on the
// browser of Windows 2000 and later (IE 5.5 to IE 7 engines): plain ES3, no
// JSON, no addEventListener, no Array extras, no textContent.

// The program hears a page only through its host's OnHTMLEvent.
function extEvent(name, element, param) {
    window.external.OnHTMLEvent(document, name, element, param);
}

function byId(id) {
    return document.getElementById(id);
}

// Text that comes from the registry or the program is shown as text, never
// parsed as markup.
function setText(element, text) {
    while (element.firstChild) {
        element.removeChild(element.firstChild);
    }
    element.appendChild(document.createTextNode(text === undefined || text === null ? '' : String(text)));
}

// The program escapes texts for a script literal with the angle brackets as
// entities, meant for markup; shown as text or in a field they are turned back.
function unescapeAngles(text) {
    return String(text).replace(/&lt;/g, '<').replace(/&gt;/g, '>');
}

function showElement(element, visible) {
    element.style.display = visible ? '' : 'none';
}

// The page's query: the part after '#' that the program adds ("unions=5",
// "3", "1-0-1-1").
function pageQuery() {
    var hash = String(window.location.hash);
    return hash.charAt(0) == '#' ? hash.substring(1) : hash;
}

// The value of name in a query of the form "a=1&b=2"; null when absent.
function queryValue(name) {
    var parts = pageQuery().split('&');
    var i;
    for (i = 0; i < parts.length; i++) {
        var eq = parts[i].indexOf('=');
        if (eq > 0 && parts[i].substring(0, eq) == name) {
            return parts[i].substring(eq + 1);
        }
    }
    return null;
}

// A decimal number of the query, or fallback when there is none.
function queryNumber(text, fallback) {
    if (text === null || !/^[0-9]+$/.test(text)) {
        return fallback;
    }
    return parseInt(text, 10);
}

// The source element of the event being handled (IE: srcElement).
function eventSource() {
    var e = window.event;
    return e ? (e.srcElement || e.target) : null;
}

// The side bar. The element argument of its event is "FROM_DONE" when a page
// has finished its work (the fixing page after the last fix).
var OutBar_Element = '';
var OutBar_Items = [
    ['RegistryScan', 'Registry Scan'],
    ['Undo', 'Undo Changes'],
    ['Ignores', 'Ignore List'],
    ['RegistryBackup', 'Registry Backup'],
    ['RegistryCompact', 'Registry Compaction'],
    ['Scheduler', 'Scheduler'],
    ['Emergency', 'Emergency Disk'],
    ['Configuration', 'Settings'],
    ['Bonus', 'Disk Space Explorer'],
    ['Help', 'Help'],
    ['RegisterAbout', 'About']
];

function OutBarItemClicked(item) {
    extEvent('OutBarItemClicked', OutBar_Element, item);
    return false;
}

function OutBar_MakeHandler(item) {
    return function () {
        return OutBarItemClicked(item);
    };
}

// Fills the element "outBar" with the side bar's links; active is the item
// of the page shown.
function OutBar_Build(active) {
    var bar = byId('outBar');
    var title = document.createElement('DIV');
    var i;
    if (!bar) {
        return;
    }
    title.className = 'outBarTitle';
    setText(title, 'QUARN Orvane');
    bar.appendChild(title);
    for (i = 0; i < OutBar_Items.length; i++) {
        var link = document.createElement('A');
        link.href = '#';
        link.id = 'outBar_' + OutBar_Items[i][0];
        link.className = OutBar_Items[i][0] == active ? 'outBarItem outBarActive' : 'outBarItem';
        link.onclick = OutBar_MakeHandler(OutBar_Items[i][0]);
        setText(link, OutBar_Items[i][1]);
        bar.appendChild(link);
    }
}

// The scan categories: bit, caption, and the name of the category's page on
// the product web site.
var Union_List = [
    [1, 'Components Subsystem', 'com-subsystem'],
    [2, 'Internet Explorer', 'internet-explorer'],
    [4, 'Shared Components', 'shared-components'],
    [8, 'Control Panel', 'control-panel'],
    [16, 'Microsoft Office', 'microsoft-office'],
    [32, 'System and User MRU Lists', 'mru-locations-list'],
    [64, 'Associations', 'file-associations'],
    [128, 'Embedded-null Characters', 'embedded-null-characters']
];
// Every category but names with embedded NUL characters.
var Union_Default = 127;

// The categories of the query's "unions=N"; the default for none or 0.
function queryUnions() {
    var mask = queryNumber(queryValue('unions'), 0) & 255;
    return mask ? mask : Union_Default;
}
