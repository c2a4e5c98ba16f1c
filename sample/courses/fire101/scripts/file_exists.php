<?php
// Old helper that the player no longer needs; a run removes it.
echo is_file(basename($_GET["name"] ?? "")) ? "yes" : "no";
