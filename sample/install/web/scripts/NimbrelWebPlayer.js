/* Quarvel sample player: shows the course, runs its posttest when it has one,
   and reports the outcome to the LMS through communication.js. */

var NimbrelPlayer = (function () {
	var query = new URLSearchParams(window.location.search);
	var course = {
		id: query.get('DorvaneID') || '',
		title: query.get('title') || '',
		subtitle: query.get('subtitle') || '',
		passing: parseInt(query.get('passing'), 10),
		hasPosttest: query.get('posttest') === 'yes',
		isVideo: query.get('vod') === 'yes',
		questionsUrl: query.get('questions') || ''
	};
	if (isNaN(course.passing)) course.passing = 80;
	var questions = [];

	function text(id, value) {
		document.getElementById(id).textContent = value;
	}

	// question.xml: <posttest><question id=".." answer=".."><text/><option key=".."/>...
	function loadQuestions() {
		if (!course.hasPosttest) return Promise.resolve([]);
		return fetch(course.questionsUrl, { cache: 'no-store' })
			.then(function (r) { return r.ok ? r.text() : ''; })
			.then(function (xml) {
				var doc = new DOMParser().parseFromString(xml, 'application/xml');
				var list = [];
				doc.querySelectorAll('posttest > question').forEach(function (q) {
					list.push({
						id: q.getAttribute('id'),
						answer: q.getAttribute('answer'),
						text: (q.querySelector('text') || {}).textContent || '',
						options: Array.prototype.map.call(q.querySelectorAll('option'), function (o) {
							return { key: o.getAttribute('key'), text: o.textContent };
						})
					});
				});
				return list;
			}, function () { return []; });
	}

	function showQuestions() {
		var box = document.getElementById('questions');
		questions.forEach(function (q, n) {
			var set = document.createElement('fieldset');
			var legend = document.createElement('legend');
			legend.textContent = (n + 1) + '. ' + q.text;
			set.appendChild(legend);
			q.options.forEach(function (o) {
				var label = document.createElement('label');
				var input = document.createElement('input');
				input.type = 'radio';
				input.name = q.id;
				input.value = o.key;
				label.appendChild(input);
				label.appendChild(document.createTextNode(' ' + o.text));
				set.appendChild(label);
			});
			box.appendChild(set);
		});
		text('passing', 'Passing score: ' + course.passing + '%');
		document.getElementById('posttest').hidden = false;
	}

	function score() {
		if (!questions.length) return 0;
		var right = questions.filter(function (q) {
			var chosen = document.querySelector('input[name="' + q.id + '"]:checked');
			return chosen && chosen.value === q.answer;
		}).length;
		return Math.round(100 * right / questions.length);
	}

	function finish() {
		var button = document.getElementById('finish');
		button.disabled = true;
		var status = 'completed';
		var message = 'Course completed.';
		if (course.hasPosttest && questions.length) {
			var result = score();
			status = result >= course.passing ? 'passed' : 'failed';
			message = 'Your score: ' + result + '%. ' + (status === 'passed' ? 'Passed.' : 'Not passed.');
			LMS_SetScore(result);
		}
		var reported = LMS_SetLessonStatus(status);
		text('outcome', message + (reported ? '' : ' (no LMS connection: the result was not recorded)'));
		document.body.setAttribute('data-finished', status);
	}

	function start() {
		text('title', course.title || course.id);
		text('subtitle', course.subtitle);
		document.title = course.title || course.id;
		LMS_Start();
		if (course.isVideo && window.NimbrelVod) window.NimbrelVod.show(course.id, document.getElementById('media'));
		loadQuestions().then(function (list) {
			questions = list;
			if (questions.length) showQuestions();
			document.getElementById('finish').addEventListener('click', finish);
			document.body.setAttribute('data-ready', 'yes');
		});
	}

	document.addEventListener('DOMContentLoaded', start);
	return { course: course, finish: finish };
})();
