#pragma once

// quarvel-batch [--settings FILE] [NAME=VALUE ...] [--] [FOLDER]
// Exit status: 0 the run ran; 1 the run could not start; 2 bad arguments.
int RunBatch(int argc, char** argv);
