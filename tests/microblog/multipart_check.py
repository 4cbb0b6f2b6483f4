#!/usr/bin/env python3
"""Reads an HTTP request on standard input and prints what Python's standard parsers make of it.

multipart: the body is parsed by the email package with the request's own Content-Type header;
           prints the parts (name, file name, content type, payload) as JSON, bytes in hex.
form:      the body is decoded by urllib.parse.unquote_plus; prints each field's value as UTF-8 hex.
"""
import email
import json
import sys
import urllib.parse


def split(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    headers = {}
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        headers.setdefault(name.strip().lower(), value.strip())
    return headers, body


def multipart(raw):
    headers, body = split(raw)
    # latin-1 maps every byte to one character, so the payloads and names come back byte for byte.
    text = (b"MIME-Version: 1.0\r\nContent-Type: " + headers.get(b"content-type", b"") + b"\r\n\r\n" + body)
    msg = email.message_from_string(text.decode("latin-1"))
    out = {"multipart": msg.is_multipart(), "defects": [type(d).__name__ for d in msg.defects], "parts": []}
    if msg.is_multipart():
        for part in msg.get_payload():
            filename = part.get_param("filename", header="content-disposition")
            out["parts"].append({
                "name": part.get_param("name", header="content-disposition"),
                "filename": None if filename is None else filename.encode("latin-1").hex(),
                "type": part.get("Content-Type"),
                "headers": len(part.keys()),
                "payload": part.get_payload(decode=True).hex(),
                "defects": [type(d).__name__ for d in part.defects],
            })
    return out


def form(raw):
    _, body = split(raw)
    fields = {}
    for pair in body.decode("ascii").split("&"):
        name, _, value = pair.partition("=")
        fields[name] = urllib.parse.unquote_plus(value, encoding="utf-8", errors="strict").encode("utf-8").hex()
    return fields


raw = sys.stdin.buffer.read()
print(json.dumps(multipart(raw) if sys.argv[1] == "multipart" else form(raw)))
