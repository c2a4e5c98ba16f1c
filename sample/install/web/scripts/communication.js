/* Quarvel sample player: talks to the learning management system through the
   SCORM 1.2 run-time API that the LMS page offers as window.API. */

var NimbrelLms = { api: null, running: false, finished: false };

// The LMS places its API object in the page that opens the course or in one
// of the frames around it; look outwards from this frame, then in the opener.
function NimbrelFindApi(start) {
	var win = start;
	for (var hops = 0; win && hops < 16; hops++) {
		try {
			if (win.API) return win.API;
		} catch (e) {
			return null;
		}
		if (!win.parent || win.parent === win) break;
		win = win.parent;
	}
	return null;
}

function LMS_Start() {
	if (NimbrelLms.running) return NimbrelLms.api;
	var api = NimbrelFindApi(window);
	if (!api && window.top && window.top.opener) api = NimbrelFindApi(window.top.opener);
	if (!api) return null;
	if (String(api.LMSInitialize('')) !== 'true') return null;
	NimbrelLms.api = api;
	NimbrelLms.running = true;
	return api;
}

function LMS_SetScore(score) {
	var api = LMS_Start();
	if (!api || NimbrelLms.finished) return false;
	api.LMSSetValue('cmi.core.score.min', '0');
	api.LMSSetValue('cmi.core.score.max', '100');
	return String(api.LMSSetValue('cmi.core.score.raw', String(score))) === 'true';
}

// Reports the lesson status and ends the session; args is 'passed', 'failed'
// or 'completed' as the player decides. The installation may adapt args for
// the exit status its LMS expects, right below the function's first line.
function LMS_SetLessonStatus(args) {
	var api = LMS_Start();
	if (!api || NimbrelLms.finished) return false;
	var stored = String(api.LMSSetValue('cmi.core.lesson_status', args)) === 'true';
	api.LMSCommit('');
	api.LMSFinish('');
	NimbrelLms.finished = true;
	NimbrelLms.running = false;
	return stored;
}
