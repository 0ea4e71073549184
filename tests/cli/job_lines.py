"""Job lines of bpdbjobs.txt for the tests that run fennick-cli on a dump."""


def job_line(job_id, policy, start, status, client, elapsed, kbytes, files):
    """A 40-field job that goes to out.txt (a backup of a Daily schedule), CR LF ended."""
    fields = [""] * 40
    fields[0] = str(job_id)
    fields[1] = "other"
    fields[3] = status
    fields[4] = policy
    fields[5] = "Daily"
    fields[6] = client
    fields[8] = str(start)
    fields[9] = str(elapsed)
    fields[10] = str(start + elapsed)
    fields[14] = str(kbytes)
    fields[15] = str(files)
    fields[22] = "0"
    fields[27] = "3"
    fields[40 - 1 - 19] = "1"
    fields[40 - 1 - 20] = "5000"
    return ",".join(fields).encode("latin-1") + b"\r\n"
