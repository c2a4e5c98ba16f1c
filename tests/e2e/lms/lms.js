// A test LMS: offers the SCORM 1.2 run-time API as window.API, opens each
// planned course in a frame, plays the learner, and sends back what the LMS
// holds afterwards.
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

	async function runScorm(item) {
		const api = new Scorm12API({ autocommit: false, logLevel: 5 });
		window.API = api;
		open(item.url);
		const doc = await waitFor('the player', playerDocument, 15000);
		for (const [question, key] of Object.entries(item.choose || {})) {
			const input = doc.querySelector('input[name="' + question + '"][value="' + key + '"]');
			if (!input) throw new Error('no option ' + key + ' for ' + question);
			input.click();
		}
		doc.getElementById('finish').click();
		await waitFor('the end of the session', function () { return api.isTerminated(); }, 10000);
		return {
			status: api.cmi.core.lesson_status,
			score: api.cmi.core.score.raw,
			title: doc.getElementById('title').textContent
		};
	}

	async function runForward(item) {
		window.API = undefined;
		open(item.url);
		const href = await waitFor('the forward', function () {
			const h = frameWindow().location.href;
			return h.indexOf('/index.html') < 0 && h !== 'about:blank' ? h : null;
		}, 15000);
		await waitFor('the player', playerDocument, 15000);
		return { href: href };
	}

	async function main() {
		const plan = await (await fetch('/plan')).json();
		const results = [];
		for (const item of plan) {
			let result;
			try {
				result = item.kind === 'forward' ? await runForward(item) : await runScorm(item);
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
