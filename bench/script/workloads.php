<?php
// The programs of counter.zrs, fib.zrs and strings.zrs beside them, as a PHP programmer
// would write them: the same loops, calls and results.
//   php workloads.php NAME RUNS   prints the result and the median CPU milliseconds

function counter()
{
    $i = 0;
    while ($i < 100000) {
        $i = $i + 1;
    }
    return $i;
}

function fib($n)
{
    if ($n < 2) {
        return $n;
    }
    return fib($n - 1) + fib($n - 2);
}

function strings()
{
    $i = 0;
    $s = '';
    while ($i < 100000) {
        $i = $i + 1;
        $s = '<td>' . $i . '</td>';
    }
    return $s;
}

// CPU time rather than wall time: other work on the machine then slows the run less.
function cpu_ms()
{
    $u = getrusage();
    return ($u['ru_utime.tv_sec'] + $u['ru_stime.tv_sec']) * 1000
        + ($u['ru_utime.tv_usec'] + $u['ru_stime.tv_usec']) / 1000;
}

$work = ['counter' => fn() => counter(), 'fib' => fn() => fib(25), 'strings' => fn() => strings()];
[$name, $runs] = [$argv[1], (int)$argv[2]];
$times = [];
for ($r = 0; $r < $runs; $r++) {
    $start = cpu_ms();
    $result = $work[$name]();
    $times[] = cpu_ms() - $start;
}
sort($times);
printf("%s %.3f\n", $result, $times[intdiv($runs - 1, 2)]);
