#!/bin/sh
# The number of parallel jobs of every build step in these scripts: JOBS when
# it is set, else one per processor.
echo "${JOBS:-$(nproc)}"
