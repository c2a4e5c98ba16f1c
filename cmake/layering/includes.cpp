// Compiled by the layering check with QUARVEL_LAYERING_HEADER set to a header
// that a folder's library may or may not reach.
#include QUARVEL_LAYERING_HEADER
