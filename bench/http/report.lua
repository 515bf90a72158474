-- wrk script: prints the run as one JSON line (latencies in microseconds).
done = function(summary, latency, requests)
    local errors = summary.errors
    io.write(string.format(
        '{"requests":%d,"seconds":%.3f,"p50us":%d,"p99us":%d,"connectErrors":%d,"readErrors":%d,' ..
        '"writeErrors":%d,"statusErrors":%d,"timeouts":%d}\n',
        summary.requests, summary.duration / 1e6, latency:percentile(50), latency:percentile(99),
        errors.connect, errors.read, errors.write, errors.status, errors.timeout))
end
