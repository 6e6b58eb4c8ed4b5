#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that adds latency: every chunk read from one side
goes out to the other side DELAY milliseconds later, in both directions, so a
round trip costs twice the delay. Bandwidth is not limited and the bytes are
not looked at (TLS passes through untouched).

    latency_proxy.py --target-port 993 [--listen-port 0] [--delay-ms 10]

Prints "listening on PORT" once ready (to stdout, flushed), then runs until
killed.
"""
import argparse
import asyncio
import sys
import time


async def pump(reader: asyncio.StreamReader, writer: asyncio.StreamWriter, delay: float) -> None:
    queue: asyncio.Queue = asyncio.Queue()

    async def read_side() -> None:
        try:
            while True:
                data = await reader.read(65536)
                await queue.put((time.monotonic() + delay, data))
                if not data:
                    return
        except (ConnectionError, OSError):
            await queue.put((time.monotonic() + delay, b""))

    async def write_side() -> None:
        try:
            while True:
                due, data = await queue.get()
                wait = due - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                if not data:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                writer.write(data)
                await writer.drain()
        except (ConnectionError, OSError):
            pass

    await asyncio.gather(read_side(), write_side())


async def handle(client_reader, client_writer, target_port: int, delay: float) -> None:
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
    except OSError:
        client_writer.close()
        return
    try:
        await asyncio.gather(pump(client_reader, server_writer, delay), pump(server_reader, client_writer, delay))
    finally:
        for w in (client_writer, server_writer):
            w.close()


async def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--target-port", type=int, required=True)
    ap.add_argument("--listen-port", type=int, default=0)
    ap.add_argument("--delay-ms", type=float, default=10.0, help="one-way delay")
    a = ap.parse_args()
    delay = a.delay_ms / 1000.0
    server = await asyncio.start_server(
        lambda r, w: handle(r, w, a.target_port, delay), "127.0.0.1", a.listen_port)
    port = server.sockets[0].getsockname()[1]
    print(f"listening on {port}", flush=True)
    async with server:
        await server.serve_forever()
    return 0


if __name__ == "__main__":
    try:
        sys.exit(asyncio.run(main()))
    except KeyboardInterrupt:
        sys.exit(0)
