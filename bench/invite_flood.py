#!/usr/bin/env python3
"""Memory and call figures of softphone-cli under a flood of INVITEs that are
never completed (fresh Call-IDs, offers with usable and unusable ports, cut
short, garbage), sent from one UDP socket on 127.0.0.1.

Usage: invite_flood.py CLI_PATH [COUNT]. Prints the resident memory before,
after each half and after the whole flood, and the calls left ringing."""
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "cli"))
import cli_calls  # noqa: E402


def main():
    cli = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    with tempfile.TemporaryDirectory(prefix="invite_flood_") as workdir:
        agent, before, half, seconds = cli_calls.flood_agent(cli, workdir, count // 2)
        try:
            started = time.monotonic()
            import socket
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
                for n, datagram in enumerate(cli_calls.junk_invites(count // 2, cli_calls.CALLER_PORT, seed=8)):
                    sender.sendto(datagram, ("127.0.0.1", cli_calls.CALLER_PORT))
                    if n % 200 == 199:
                        time.sleep(0.01)
            seconds += time.monotonic() - started
            time.sleep(1.0)
            after = cli_calls.rss_kib(agent.proc.pid)
            cli_calls.drain(agent)
            agent.send("calls")
            time.sleep(1.0)
            ringing = [line for line in cli_calls.drain(agent) if line.startswith("call ")]
            print(f"invite flood: {count} datagrams in {seconds:.2f} s")
            print(f"  resident memory: {before} KiB before, {half} KiB after {count // 2}, "
                  f"{after} KiB after {count} (second half: {after - half:+d} KiB)")
            print(f"  calls left ringing: {len(ringing)}")
            agent.finish()
        finally:
            agent.kill()


if __name__ == "__main__":
    main()
