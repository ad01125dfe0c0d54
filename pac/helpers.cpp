#include "pac/helpers.h"

namespace pac {
namespace {

// Host names compare without regard to case. Ranges of days, months and times
// may wrap around (FRI to MON, DEC to JAN, 22 to 6); ranges of years may not.
// A range's end counts whole at the precision it is given in: timeRange(9, 17)
// runs from 09:00:00 to 17:59:59, dateRange("JAN", "MAR") to the last of March.
constexpr std::string_view kHelpers = R"js(
var DAYS = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var MONTHS = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];

function alert(message) {}

function isPlainHostName(host) {
    return String(host).indexOf('.') < 0;
}

function dnsDomainIs(host, domain) {
    host = String(host).toLowerCase();
    domain = String(domain).toLowerCase();
    return host.length >= domain.length &&
        host.substring(host.length - domain.length) === domain;
}

function localHostOrDomainIs(host, hostdom) {
    host = String(host).toLowerCase();
    hostdom = String(hostdom).toLowerCase();
    if (host === hostdom) return true;
    return host.indexOf('.') < 0 && hostdom.substring(0, host.length + 1) === host + '.';
}

function dnsDomainLevels(host) {
    return String(host).split('.').length - 1;
}

function shExpMatch(text, pattern) {
    pattern = String(pattern);
    var source = '';
    for (var i = 0; i < pattern.length; i++) {
        var c = pattern.charAt(i);
        if (c === '*') source += '[\\s\\S]*';
        else if (c === '?') source += '[\\s\\S]';
        else source += c.replace(/[\\^$.|+()\[\]{}]/g, '\\$&');
    }
    return new RegExp('^' + source + '$').test(String(text));
}

function ipv4Bytes(text) {
    var parts = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(String(text));
    if (!parts) return null;
    var bytes = [];
    for (var i = 1; i <= 4; i++) {
        var value = parseInt(parts[i], 10);
        if (value > 255) return null;
        bytes.push(value);
    }
    return bytes;
}

function ipv6Bytes(text) {
    text = String(text);
    var embedded = /^(.*:)(\d+\.\d+\.\d+\.\d+)$/.exec(text);
    if (embedded) {
        var v4 = ipv4Bytes(embedded[2]);
        if (!v4) return null;
        text = embedded[1] + (v4[0] * 256 + v4[1]).toString(16) + ':' +
            (v4[2] * 256 + v4[3]).toString(16);
    }
    var halves = text.split('::');
    if (halves.length > 2) return null;
    var head = halves[0] === '' ? [] : halves[0].split(':');
    var tail = halves.length < 2 || halves[1] === '' ? [] : halves[1].split(':');
    var missing = 8 - head.length - tail.length;
    if (halves.length === 2 ? missing < 1 : missing !== 0) return null;
    var groups = head;
    for (var i = 0; i < missing; i++) groups.push('0');
    groups = groups.concat(tail);
    var bytes = [];
    for (var j = 0; j < groups.length; j++) {
        if (!/^[0-9a-fA-F]{1,4}$/.test(groups[j])) return null;
        var value = parseInt(groups[j], 16);
        bytes.push(value >> 8, value & 255);
    }
    return bytes;
}

function addressBytes(text) {
    text = String(text);
    if (/^\[.*\]$/.test(text)) text = text.substring(1, text.length - 1);
    return ipv4Bytes(text) || ipv6Bytes(text);
}

function addressList(text) {
    var list = [];
    var entries = String(text).split(';');
    for (var i = 0; i < entries.length; i++) {
        var entry = entries[i].replace(/^\s+|\s+$/g, '');
        if (entry !== '') list.push(entry);
    }
    return list;
}

function isResolvable(host) {
    return dnsResolve(host) !== null;
}

function isResolvableEx(host) {
    return dnsResolveEx(host) !== '';
}

function isInNet(host, pattern, mask) {
    var address = ipv4Bytes(host);
    if (!address) {
        var resolved = dnsResolve(host);
        if (resolved === null) return false;
        address = ipv4Bytes(resolved);
    }
    var network = ipv4Bytes(pattern), bits = ipv4Bytes(mask);
    if (!address || !network || !bits) return false;
    for (var i = 0; i < 4; i++) {
        if ((address[i] & bits[i]) !== (network[i] & bits[i])) return false;
    }
    return true;
}

function prefixMatches(address, network, length) {
    if (address.length !== network.length || length > address.length * 8) return false;
    for (var i = 0; i < address.length; i++) {
        var bits = Math.max(0, Math.min(8, length - 8 * i));
        var mask = (0xFF00 >> bits) & 0xFF;
        if ((address[i] & mask) !== (network[i] & mask)) return false;
    }
    return true;
}

function isInNetEx(host, prefix) {
    var parts = /^(.+)\/(\d{1,3})$/.exec(String(prefix));
    if (!parts) return false;
    var network = addressBytes(parts[1]), length = parseInt(parts[2], 10);
    if (!network) return false;
    var candidates = addressBytes(host) ? [String(host)] : addressList(dnsResolveEx(host));
    for (var i = 0; i < candidates.length; i++) {
        var address = addressBytes(candidates[i]);
        if (address && prefixMatches(address, network, length)) return true;
    }
    return false;
}

// IPv6 addresses first, then IPv4 ones, each in ascending order; "" when an
// entry is not an address.
function sortIpAddressList(list) {
    var entries = addressList(list), keyed = [];
    if (entries.length === 0) return '';
    for (var i = 0; i < entries.length; i++) {
        var bytes = addressBytes(entries[i]);
        if (!bytes) return '';
        keyed.push({ text: entries[i], bytes: bytes });
    }
    keyed.sort(function (a, b) {
        if (a.bytes.length !== b.bytes.length) return b.bytes.length - a.bytes.length;
        for (var j = 0; j < a.bytes.length; j++) {
            if (a.bytes[j] !== b.bytes[j]) return a.bytes[j] - b.bytes[j];
        }
        return 0;
    });
    var sorted = [];
    for (var k = 0; k < keyed.length; k++) sorted.push(keyed[k].text);
    return sorted.join(';');
}

function getClientVersion() {
    return '1.0';
}

// The arguments of a date or time function without trailing undefined ones,
// and whether the last was "GMT".
function rangeArguments(args) {
    var list = Array.prototype.slice.call(args);
    while (list.length > 0 && list[list.length - 1] === undefined) list.pop();
    var gmt = list.length > 0 && String(list[list.length - 1]).toUpperCase() === 'GMT';
    if (gmt) list.pop();
    return { gmt: gmt, list: list };
}

function currentTime(gmt) {
    var d = new Date();
    if (gmt) {
        return { y: d.getUTCFullYear(), m: d.getUTCMonth(), d: d.getUTCDate(),
                 weekday: d.getUTCDay(), hour: d.getUTCHours(), minute: d.getUTCMinutes(),
                 second: d.getUTCSeconds() };
    }
    return { y: d.getFullYear(), m: d.getMonth(), d: d.getDate(), weekday: d.getDay(),
             hour: d.getHours(), minute: d.getMinutes(), second: d.getSeconds() };
}

function inRange(value, low, high, wraps) {
    if (low <= high) return low <= value && value <= high;
    return wraps && (value >= low || value <= high);
}

function weekdayRange() {
    var call = rangeArguments(arguments), list = call.list;
    if (list.length < 1 || list.length > 2) return false;
    var first = DAYS.indexOf(String(list[0]).toUpperCase());
    var last = list.length === 2 ? DAYS.indexOf(String(list[1]).toUpperCase()) : first;
    if (first < 0 || last < 0) return false;
    return inRange(currentTime(call.gmt).weekday, first, last, true);
}

// A day of the month (1 to 31), a year (1000 or later) or a month's name.
function dateField(value) {
    if (/^\d+$/.test(String(value))) {
        var number = Number(value);
        if (number >= 1 && number <= 31) return { kind: 'd', value: number };
        if (number >= 1000) return { kind: 'y', value: number };
        return null;
    }
    var month = MONTHS.indexOf(String(value).toUpperCase());
    return month < 0 ? null : { kind: 'm', value: month };
}

var DATE_WEIGHTS = { y: 10000, m: 100, d: 1 };
var DATE_FORMS = ['d', 'm', 'y', 'dm', 'my', 'dmy'];

function dateRange() {
    var call = rangeArguments(arguments), list = call.list, fields = [], kinds = '';
    if (list.length !== 1 && list.length !== 2 && list.length !== 4 && list.length !== 6) {
        return false;
    }
    for (var i = 0; i < list.length; i++) {
        var field = dateField(list[i]);
        if (!field) return false;
        fields.push(field);
        kinds += field.kind;
    }
    var size = list.length === 1 ? 1 : list.length / 2;
    var form = kinds.substring(0, size);
    if (DATE_FORMS.indexOf(form) < 0 || (list.length > 1 && kinds.substring(size) !== form)) {
        return false;
    }
    function key(offset) {
        var total = 0;
        for (var j = 0; j < size; j++) total += DATE_WEIGHTS[form.charAt(j)] * fields[offset + j].value;
        return total;
    }
    var now = currentTime(call.gmt), today = 0;
    for (var k = 0; k < size; k++) today += DATE_WEIGHTS[form.charAt(k)] * now[form.charAt(k)];
    var low = key(0), high = list.length === 1 ? low : key(size);
    return inRange(today, low, high, form.indexOf('y') < 0);
}

function timeRange() {
    var call = rangeArguments(arguments), list = call.list;
    if (list.length !== 1 && list.length !== 2 && list.length !== 4 && list.length !== 6) {
        return false;
    }
    for (var i = 0; i < list.length; i++) {
        if (!/^\d+$/.test(String(list[i]))) return false;
    }
    var size = list.length === 1 ? 1 : list.length / 2;
    function key(values) {
        var total = 0;
        for (var j = 0; j < size; j++) total = total * 60 + Number(values[j]);
        return total;
    }
    var now = currentTime(call.gmt);
    var current = key([now.hour, now.minute, now.second]);
    var low = key(list), high = list.length === 1 ? low : key(list.slice(size));
    return inRange(current, low, high, true);
}
)js";

}  // namespace

std::string_view HelperScript() {
    return kHelpers;
}

}  // namespace pac
