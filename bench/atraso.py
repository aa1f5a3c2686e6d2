#!/usr/bin/env python3
"""A TCP proxy on loopback that delays every chunk by a fixed time each way,
as a VPN link would, and counts what that costs: the connections made and
the round trips (each time a client sends after its server has sent).

    atraso.py LISTEN_PORT TARGET_PORT DELAY_MS COUNTS_FILE

Runs until killed (SIGTERM); rewrites COUNTS_FILE with
"connections N\nturns N\n" after every change. With ATRASO_LOG set, appends
to that file one line per connection as it closes: its number, when it
opened and closed (seconds since the proxy started) and its round trips.
"""
import asyncio
import os
import signal
import sys
import time

listen_port, target_port, delay_ms, counts_file = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
delay = delay_ms / 1000.0
counts = {"connections": 0, "turns": 0}
log_file = os.environ.get("ATRASO_LOG")
started = time.monotonic()


def save():
    with open(counts_file + ".tmp", "w") as f:
        f.write("connections %d\nturns %d\n" % (counts["connections"], counts["turns"]))
    os.replace(counts_file + ".tmp", counts_file)


async def pump(reader, writer, side, state):
    # Each chunk goes out DELAY after it came in, in order: latency, not a
    # narrower pipe.
    queue = asyncio.Queue()

    async def send():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        # This direction is done; the other may still be carrying data.
        if writer.can_write_eof():
            writer.write_eof()

    sender = asyncio.ensure_future(send())
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            if side == "client" and state["last"] == "server":
                counts["turns"] += 1
                state["turns"] += 1
                save()
            state["last"] = side
            await queue.put((time.monotonic() + delay, data))
    except (ConnectionError, OSError):
        pass
    await queue.put((0, None))
    try:
        await sender
    except (ConnectionError, OSError):
        pass


async def handle(client_reader, client_writer):
    counts["connections"] += 1
    number = counts["connections"]
    opened = time.monotonic() - started
    save()
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
    except OSError:
        client_writer.close()
        return
    state = {"last": None, "turns": 0}
    await asyncio.gather(pump(client_reader, server_writer, "client", state),
                         pump(server_reader, client_writer, "server", state))
    for writer in (client_writer, server_writer):
        writer.close()
    if log_file:
        with open(log_file, "a") as f:
            f.write("connection %d opened %.2f closed %.2f turns %d\n"
                    % (number, opened, time.monotonic() - started, state["turns"]))


async def main():
    server = await asyncio.start_server(handle, "127.0.0.1", listen_port)
    save()
    stop = asyncio.get_running_loop().create_future()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set_result, None)
    async with server:
        await stop


asyncio.run(main())
