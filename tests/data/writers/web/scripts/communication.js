// LMS_SetLessonStatus is called by the player only through SetStatus.
function SetStatus(args) {
	if (useLms) {
		if (args != '') {
			LMS_SetLessonStatus(args);
		}

		complete = true; // 100% done
	}
	else LMS_SetLessonStatus(args);
}
