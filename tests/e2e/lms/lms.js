// A test LMS: offers the SCORM 1.2 run-time API as window.API (or the SCORM
// 2004 one as window.API_1484_11), opens each planned course in a frame,
// plays the learner, and sends back what the LMS holds afterwards.
(function () {
	function log(text) {
		document.getElementById('log').textContent += text + '\n';
	}

	function sleep(ms) {
		return new Promise(function (resolve) { setTimeout(resolve, ms); });
	}

	async function waitFor(what, probe, ms) {
		const end = Date.now() + ms;
		for (;;) {
			let value = null;
			try { value = probe(); } catch (e) { value = null; }
			if (value) return value;
			if (Date.now() > end) throw new Error('timed out waiting for ' + what);
			await sleep(50);
		}
	}

	function frameWindow() {
		return document.getElementById('sco').contentWindow;
	}

	// The player's document inside the course page, once it is ready.
	function playerDocument() {
		const inner = frameWindow().document.getElementById('player');
		const doc = inner && inner.contentWindow.document;
		return doc && doc.body && doc.body.getAttribute('data-ready') === 'yes' ? doc : null;
	}

	// A new frame for every course, so that nothing of the previous one is seen.
	function open(url) {
		const old = document.getElementById('sco');
		const frame = document.createElement('iframe');
		frame.title = 'Course';
		old.replaceWith(frame);
		frame.id = 'sco';
		frame.src = url;
	}

	// Answers the posttest as planned and finishes the course.
	async function play(item) {
		const doc = await waitFor('the player', playerDocument, 60000);
		for (const [question, key] of Object.entries(item.choose || {})) {
			const input = doc.querySelector('input[name="' + question + '"][value="' + key + '"]');
			if (!input) throw new Error('no option ' + key + ' for ' + question);
			input.click();
		}
		doc.getElementById('finish').click();
		return doc;
	}

	async function runScorm(item) {
		const api = new Scorm12API({ autocommit: false, logLevel: 5 });
		window.API = api;
		window.API_1484_11 = undefined;
		open(item.url);
		const doc = await play(item);
		await waitFor('the end of the session', function () { return api.isTerminated(); }, 60000);
		return {
			status: api.cmi.core.lesson_status,
			score: api.cmi.core.score.raw,
			title: doc.getElementById('title').textContent
		};
	}

	// Only the SCORM 2004 API is offered: the course must reach it through its adapter.
	async function runScorm2004(item) {
		const api = new Scorm2004API({ autocommit: false, logLevel: 5 });
		// As an LMS does when the manifest says the score decides success.
		if (item.scaledPassingScore) api.cmi.scaled_passing_score = item.scaledPassingScore;
		// Each value the course set, with the LMS's answer to it.
		const sets = {};
		api.on('SetValue', function (element, value) {
			sets[element] = { value: String(value), error: String(api.GetLastError()) };
		});
		window.API = undefined;
		window.API_1484_11 = api;
		open(item.url);
		const doc = await play(item);
		await waitFor('the end of the session', function () { return api.isTerminated(); }, 60000);
		return {
			completion: api.cmi.completion_status,
			success: api.cmi.success_status,
			raw: api.cmi.score.raw,
			scaled: api.cmi.score.scaled,
			sessionTime: sets['cmi.session_time'] || null,
			terminated: api.isTerminated(),
			title: doc.getElementById('title').textContent
		};
	}

	async function runForward(item) {
		window.API = undefined;
		window.API_1484_11 = undefined;
		open(item.url);
		const href = await waitFor('the forward', function () {
			const h = frameWindow().location.href;
			return h.indexOf('/index.html') < 0 && h !== 'about:blank' ? h : null;
		}, 60000);
		await waitFor('the player', playerDocument, 60000);
		return { href: href };
	}

	async function main() {
		const plan = await (await fetch('/plan')).json();
		const results = [];
		for (const item of plan) {
			let result;
			try {
				if (item.kind === 'forward') result = await runForward(item);
				else if (item.kind === 'scorm2004') result = await runScorm2004(item);
				else result = await runScorm(item);
			} catch (e) {
				result = { error: String(e && e.message || e) };
			}
			result.name = item.name;
			results.push(result);
			log(item.name + ': ' + JSON.stringify(result));
		}
		await fetch('/results', { method: 'POST', body: JSON.stringify(results) });
	}

	window.addEventListener('load', function () {
		main().catch(function (e) {
			fetch('/results', { method: 'POST', body: JSON.stringify({ error: String(e) }) });
		});
	});
})();
