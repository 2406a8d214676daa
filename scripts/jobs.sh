# Sourced by the build scripts: how many compilers (and tests) run at once,
# KRV_JOBS when set (a machine with little memory, or one shared with other
# work), else one per processor.
jobs=${KRV_JOBS:-$(nproc)}
case $jobs in
'' | *[!0-9]* | 0)
    echo "KRV_JOBS=$jobs: give the number of jobs, 1 or more" >&2
    exit 2
    ;;
esac
