#include "writers/Scorm2004Adapter.h"

#include <tuple>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/Escape.h"
#include "writers/NormaliseTextFile.h"

namespace {

// ES5 and nothing else, as the player's own scripts: LMSs still launch
// courses in old embedded browsers.
constexpr std::string_view kScript = R"js(/* SCORM 2004 adapter written by Quarvel. The course player speaks SCORM 1.2
   and looks for window.API; this script finds the LMS's SCORM 2004 API
   (API_1484_11) and offers the player's SCORM 1.2 calls on top of it. Loaded
   by the course page before the player starts. */
(function (win) {
	'use strict';

	// The LMS places its API in the page that opens the course or in a frame
	// around it: look outwards from this page, then from the opener.
	function findIn(start) {
		var w = start;
		for (var hops = 0; w && hops < 16; hops++) {
			try {
				if (w.API_1484_11) return w.API_1484_11;
			} catch (e) {
				return null;
			}
			if (!w.parent || w.parent === w) break;
			w = w.parent;
		}
		return null;
	}

	var lms = findIn(win);
	if (!lms) {
		try {
			if (win.top && win.top.opener) lms = findIn(win.top.opener);
		} catch (e) {
			lms = null;
		}
	}
	// Without a SCORM 2004 LMS the player goes on to look for a SCORM 1.2 API.
	if (!lms) return;

	var errorStrings = {
		0: 'No error',
		101: 'General exception',
		201: 'Invalid argument error',
		202: 'Element cannot have children',
		203: 'Element not an array - cannot have count',
		301: 'Not initialized',
		401: 'Not implemented error',
		402: 'Invalid set value, element is a keyword',
		403: 'Element is read only',
		404: 'Element is write only',
		405: 'Incorrect data type'
	};

	// The SCORM 1.2 code of a SCORM 2004 error.
	function codeOf(code2004) {
		var code = parseInt(code2004, 10) || 0;
		if (code === 0 || code === 403) return 0;  // a value not set yet reads as "" in SCORM 1.2
		if (code === 112 || code === 122 || code === 132 || code === 142) return 301;
		if (code === 201 || code === 401) return 201;
		if (code === 402) return 401;
		if (code === 404) return 403;
		if (code === 405) return 404;
		if (code === 406 || code === 407) return 405;
		return 101;
	}

	var lastError = 0;
	var diagnostic = '';
	var startedAt = null;
	var sessionTimeSet = false;
	var score = { raw: '', min: '', max: '' };

	function fail(code, why) {
		lastError = code;
		diagnostic = why;
		return 'false';
	}

	// Takes the error state of the SCORM 2004 call just made.
	function noteLms() {
		var code = String(lms.GetLastError());
		lastError = codeOf(code);
		diagnostic = code === '0' ? '' : 'SCORM 2004 error ' + code + ': ' + String(lms.GetErrorString(code));
	}

	function set(element, value) {
		var result = String(lms.SetValue(element, value));
		noteLms();
		return result === 'true';
	}

	function get(element) {
		var value = String(lms.GetValue(element));
		noteLms();
		return value;
	}

	// Sets each pair in turn; stops at the first the LMS refuses.
	function setAll(pairs) {
		for (var i = 0; i < pairs.length; i++) {
			if (!set(pairs[i][0], pairs[i][1])) return 'false';
		}
		return 'true';
	}

	var statuses = {
		'passed': ['completed', 'passed'],
		'failed': ['completed', 'failed'],
		'completed': ['completed', 'unknown'],
		'incomplete': ['incomplete', 'unknown'],
		'browsed': ['incomplete', 'unknown'],
		'not attempted': ['not attempted', 'unknown']
	};

	// A decimal without an exponent, at most seven places.
	function decimal(value) {
		var text = value.toFixed(7);
		if (text.indexOf('.') >= 0) text = text.replace(/0+$/, '').replace(/\.$/, '');
		return text === '-0' ? '0' : text;
	}

	// cmi.score.scaled from raw, min and max; SCORM 1.2 scores run 0-100
	// unless the course says otherwise.
	function scaledScore() {
		var raw = parseFloat(score.raw);
		var min = score.min === '' ? 0 : parseFloat(score.min);
		var max = score.max === '' ? 100 : parseFloat(score.max);
		if (isNaN(raw) || isNaN(min) || isNaN(max) || max <= min) return null;
		return decimal(Math.max(-1, Math.min(1, (raw - min) / (max - min))));
	}

	function pad(n, width) {
		var text = String(n);
		while (text.length < width) text = '0' + text;
		return text;
	}

	// Seconds with at most two places, as a duration writes them.
	function seconds(centiseconds) {
		var whole = Math.floor(centiseconds / 100);
		var rest = centiseconds % 100;
		if (rest === 0) return String(whole);
		return whole + '.' + pad(rest, 2).replace(/0$/, '');
	}

	function duration(centiseconds) {
		var hours = Math.floor(centiseconds / 360000);
		var minutes = Math.floor((centiseconds % 360000) / 6000);
		return 'PT' + hours + 'H' + minutes + 'M' + seconds(centiseconds % 6000) + 'S';
	}

	// HHHH:MM:SS.SS (two to four hour digits, the fraction optional) as
	// centiseconds; null when the text is not such a time.
	function centisecondsOf(time) {
		var m = /^(\d{2,4}):(\d{2}):(\d{2})(\.\d{1,2})?$/.exec(time);
		if (!m || parseInt(m[2], 10) > 59 || parseInt(m[3], 10) > 59) return null;
		var fraction = m[4] ? Math.round(parseFloat('0' + m[4]) * 100) : 0;
		return ((parseInt(m[1], 10) * 60 + parseInt(m[2], 10)) * 60 + parseInt(m[3], 10)) * 100 + fraction;
	}

	// An ISO 8601 duration as HHHH:MM:SS.SS (a year taken as 365 days, a month as 30).
	function timeOf(iso) {
		var m = /^P(?:([\d.]+)Y)?(?:([\d.]+)M)?(?:([\d.]+)W)?(?:([\d.]+)D)?(?:T(?:([\d.]+)H)?(?:([\d.]+)M)?(?:([\d.]+)S)?)?$/.exec(iso);
		var total = 0;
		if (m) {
			var factors = [31536000, 2592000, 604800, 86400, 3600, 60, 1];
			for (var i = 0; i < factors.length; i++) total += (parseFloat(m[i + 1]) || 0) * factors[i];
		}
		var cs = Math.round(total * 100);
		var hours = Math.min(9999, Math.floor(cs / 360000));
		return pad(hours, 4) + ':' + pad(Math.floor((cs % 360000) / 6000), 2) + ':' +
			pad(Math.floor((cs % 6000) / 100), 2) + '.' + pad(cs % 100, 2);
	}

	var simple = {
		'cmi.core.student_id': 'cmi.learner_id',
		'cmi.core.student_name': 'cmi.learner_name',
		'cmi.core.lesson_location': 'cmi.location',
		'cmi.core.credit': 'cmi.credit',
		'cmi.core.entry': 'cmi.entry',
		'cmi.core.lesson_mode': 'cmi.mode',
		'cmi.core.score.raw': 'cmi.score.raw',
		'cmi.core.score.min': 'cmi.score.min',
		'cmi.core.score.max': 'cmi.score.max',
		'cmi.suspend_data': 'cmi.suspend_data',
		'cmi.launch_data': 'cmi.launch_data'
	};
	var readOnly = ['cmi.core.student_id', 'cmi.core.student_name', 'cmi.core.credit', 'cmi.core.entry',
		'cmi.core.lesson_mode', 'cmi.core.total_time', 'cmi.launch_data'];
	var writeOnly = ['cmi.core.exit', 'cmi.core.session_time'];
	var children = {
		'cmi.core._children': 'student_id,student_name,lesson_location,credit,lesson_status,entry,score,total_time,lesson_mode,exit,session_time',
		'cmi.core.score._children': 'raw,min,max'
	};

	function contains(list, item) {
		for (var i = 0; i < list.length; i++) {
			if (list[i] === item) return true;
		}
		return false;
	}

	function getValue(element) {
		element = String(element);
		if (children.hasOwnProperty(element)) {
			lastError = 0;
			return children[element];
		}
		if (contains(writeOnly, element)) {
			fail(404, element + ' is write only');
			return '';
		}
		if (element === 'cmi.core.lesson_status') {
			var success = get('cmi.success_status');
			if (lastError === 0 && (success === 'passed' || success === 'failed')) return success;
			var completion = get('cmi.completion_status');
			if (lastError !== 0) return '';
			return completion === 'completed' || completion === 'incomplete' ? completion : 'not attempted';
		}
		if (element === 'cmi.core.total_time') {
			var total = get('cmi.total_time');
			return lastError === 0 ? timeOf(total) : '';
		}
		if (simple.hasOwnProperty(element)) {
			var value = get(simple[element]);
			return lastError === 0 ? value : '';
		}
		fail(401, element + ' is not offered on a SCORM 2004 LMS');
		return '';
	}

	function setValue(element, value) {
		element = String(element);
		value = String(value);
		if (contains(readOnly, element)) return fail(403, element + ' is read only');
		if (element === 'cmi.core.lesson_status') {
			if (!statuses.hasOwnProperty(value)) return fail(405, '"' + value + '" is not a lesson status');
			var status = statuses[value];
			return setAll([['cmi.completion_status', status[0]], ['cmi.success_status', status[1]]]);
		}
		if (element === 'cmi.core.session_time') {
			var cs = centisecondsOf(value);
			if (cs === null) return fail(405, '"' + value + '" is not a time HHHH:MM:SS.SS');
			if (!set('cmi.session_time', duration(cs))) return 'false';
			sessionTimeSet = true;
			return 'true';
		}
		if (element === 'cmi.core.exit') {
			if (value !== 'time-out' && value !== 'suspend' && value !== 'logout' && value !== '') {
				return fail(405, '"' + value + '" is not an exit');
			}
			return setAll([['cmi.exit', value === '' ? 'normal' : value]]);
		}
		if (element.indexOf('cmi.core.score.') === 0 && simple.hasOwnProperty(element)) {
			if (!set(simple[element], value)) return 'false';
			score[element.substring('cmi.core.score.'.length)] = value;
			var scaled = scaledScore();
			// The raw score's own result stands, whatever the LMS says to the scaled one.
			if (scaled !== null && score.raw !== '') {
				set('cmi.score.scaled', scaled);
				lastError = 0;
				diagnostic = '';
			}
			return 'true';
		}
		if (simple.hasOwnProperty(element)) return setAll([[simple[element], value]]);
		return fail(401, element + ' is not offered on a SCORM 2004 LMS');
	}

	win.API = {
		LMSInitialize: function () {
			var result = String(lms.Initialize(''));
			noteLms();
			if (result === 'true' && startedAt === null) startedAt = new Date().getTime();
			return result;
		},
		LMSFinish: function () {
			// An LMS adds up the time of each session: one the course did not
			// report is reported here.
			if (!sessionTimeSet && startedAt !== null) {
				set('cmi.session_time', duration(Math.max(0, Math.round((new Date().getTime() - startedAt) / 10))));
				sessionTimeSet = true;
			}
			var result = String(lms.Terminate(''));
			noteLms();
			return result;
		},
		LMSGetValue: getValue,
		LMSSetValue: setValue,
		LMSCommit: function () {
			var result = String(lms.Commit(''));
			noteLms();
			return result;
		},
		LMSGetLastError: function () {
			return String(lastError);
		},
		LMSGetErrorString: function (code) {
			var text = errorStrings[parseInt(code, 10)];
			return text === undefined ? '' : text;
		},
		LMSGetDiagnostic: function () {
			return diagnostic;
		}
	};
})(window);
)js";

}  // namespace

std::string_view Scorm2004AdapterScript() {
    return kScript;
}

std::string Scorm2004AdapterUrl(const std::string& courseFolder, const std::string& contentFolder) {
    std::string url = "scripts/" + std::string(kScorm2004AdapterName);
    if (contentFolder != courseFolder && platform::IsWithin(contentFolder, courseFolder)) {
        std::string below = PercentEncodeUrlChars(contentFolder.substr(courseFolder.size() + 1));
        platform::ReplaceAllInPlace(below, " ", "%20");
        url = below + "/" + url;
    }
    return url;
}

void WriteScorm2004Adapter(BundleFiles& files, const std::string& scriptsFolder) {
    std::ignore = WriteNormalisedFile(files, scriptsFolder + "/" + std::string(kScorm2004AdapterName),
                                      FinishedTextBytes(kScript));
}
