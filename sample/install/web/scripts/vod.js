/* Quarvel sample player: the video of a video-on-demand package, with its
   subtitles when the package has them. */

var NimbrelVod = {
	show: function (id, box) {
		var video = document.createElement('video');
		video.controls = true;
		video.preload = 'none';
		video.src = '../video/' + id + '.mp4';
		var track = document.createElement('track');
		track.kind = 'subtitles';
		track.srclang = 'en';
		track.label = 'Subtitles';
		track.src = '../video/vtt/' + id + '.vtt';
		track.default = true;
		video.appendChild(track);
		var exit = document.createElement('img');
		exit.src = '../controls/up_exit.png';
		exit.alt = 'Exit';
		exit.className = 'exit';
		exit.addEventListener('mouseover', function () { exit.src = '../controls/dn_exit.png'; });
		exit.addEventListener('mouseout', function () { exit.src = '../controls/up_exit.png'; });
		exit.addEventListener('click', function () { document.getElementById('finish').click(); });
		box.appendChild(video);
		box.appendChild(exit);
		box.hidden = false;
	}
};
