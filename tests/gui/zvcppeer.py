#!/usr/bin/env python3
"""zvcppeer.py — a second user of a shared world for the chat test, speaking
the wire protocol itself: hello, join, then it reads what the server sends.
It prints one line for each thing it hears ("add ID URL NAME", "text ID
TEXT", ...), waits for the text it expects from the other user, answers it
with a text of its own for its own avatar, and ends.

  zvcppeer.py PORT NAME EXPECTED REPLY SECONDS

Exits 0 once the expected text came and the reply went, 1 when the time ran
out or the server closed first.
"""
import socket
import struct
import sys
import time


def main():
    port, name, expected, reply, seconds = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], float(sys.argv[5])
    end = time.monotonic() + seconds
    s = socket.create_connection(('127.0.0.1', port), timeout=seconds)
    s.sendall(b'hello\x01\x01')
    answer = b''
    while len(answer) < 14:
        chunk = s.recv(14 - len(answer))
        if not chunk:
            print('closed during the hello', flush=True)
            return 1
        answer += chunk
    if not answer.startswith(b'hello'):
        print('refused:', answer, flush=True)
        return 1
    client, channel = struct.unpack('>II', answer[6:14])
    body = name.encode() + b'\0person.wrl\0'
    s.sendall(struct.pack('>BIIII', 0, channel, client, 0, len(body)) + body)
    avatar = None
    heard = False
    buffered = b''
    while time.monotonic() < end:
        s.settimeout(max(end - time.monotonic(), 0.01))
        try:
            chunk = s.recv(4096)
        except socket.timeout:
            break
        if not chunk:
            print('closed by the server', flush=True)
            return 1
        buffered += chunk
        while buffered:
            kind = buffered[0]
            size = 14 if kind == 1 else 27 if kind == 2 else None
            if kind == 0:
                if len(buffered) < 17:
                    break
                size = 17 + struct.unpack('>I', buffered[13:17])[0]
            if size is None or size > 4096:
                print('cannot follow class', kind, flush=True)
                return 1
            if len(buffered) < size:
                break
            message, buffered = buffered[:size], buffered[size:]
            if kind != 0:
                continue
            op = struct.unpack('>I', message[9:13])[0]
            payload = message[17:]
            if op == 1:
                client = struct.unpack('>I', payload[:4])[0]
            elif op == 4:
                avatar = struct.unpack('>I', payload[:4])[0]
                print('myself', avatar, flush=True)
            elif op == 2:
                ident = struct.unpack('>I', payload[:4])[0]
                words = payload[8:].split(b'\0')
                print('add', ident, words[0].decode(errors='replace'),
                      words[1].decode(errors='replace') if len(words) > 1 else '', flush=True)
            elif op == 6 and len(payload) >= 9 and struct.unpack('>I', payload[4:8])[0] == 9:
                ident = struct.unpack('>I', payload[:4])[0]
                text = payload[9:].split(b'\0')[0].decode(errors='replace')
                print('text', ident, text, flush=True)
                if text == expected and not heard and avatar is not None:
                    heard = True
                    # The other side looks at its log meanwhile: our answer
                    # must come after its own line has been drawn.
                    time.sleep(1.5)
                    said = struct.pack('>IIB', avatar, 9, 0) + reply.encode() + b'\0'
                    s.sendall(struct.pack('>BIIII', 0, channel, client, 6, len(said)) + said)
                    print('replied', flush=True)
                    # Long enough for the server to pass it on before we leave.
                    time.sleep(1.0)
                    return 0
    print('timed out', flush=True)
    return 1


sys.exit(main())
