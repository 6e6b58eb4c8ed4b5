#!/usr/bin/env python3
"""Writes the demo mailbox: about 200 made-up messages as raw RFC 5322 files.

    demo-mailbox.py OUTDIR

OUTDIR/Inbox, OUTDIR/Sent and OUTDIR/Junk receive one file per message, named
so that name order is date order (0001.eml, 0002.eml, ...). The output depends
on nothing but this script: the same messages, byte for byte, on every run.

The mailbox belongs to Robin Vale (robin@example.net) and holds what such a
mailbox holds: order confirmations with order numbers, shipping notices with
tracking numbers, newsletters, HTML-only mail, personal mail in Latin-1 and
UTF-8, quoted-printable and base64 bodies, invoices with attachments, receipts,
meeting notes; replies in Sent; spam in Junk.
"""
import base64
import datetime as dt
import os
import quopri
import random
import sys
from email.header import Header
from email.utils import format_datetime

ME_NAME = "Robin Vale"
ME = "robin@example.net"
TZ = dt.timezone(dt.timedelta(hours=1))
START = dt.datetime(2025, 1, 6, 8, 12, tzinfo=TZ)

rng = random.Random(13)


# --- building raw messages ---------------------------------------------------

def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def header_text(text, charset="utf-8"):
    """A header value, as encoded words when it is not plain ASCII."""
    try:
        text.encode("ascii")
        return text
    except UnicodeEncodeError:
        return Header(text, charset).encode(linesep="\r\n")


def address(name, mail, charset="utf-8"):
    if not name:
        return mail
    try:
        name.encode("ascii")
        if any(c in name for c in ',.;:"()<>@'):
            name = '"' + name.replace('"', '\\"') + '"'
        return f"{name} <{mail}>"
    except UnicodeEncodeError:
        return f"{Header(name, charset).encode()} <{mail}>"


def encode_body(data, cte):
    if cte == "quoted-printable":
        return crlf(quopri.encodestring(data.replace(b"\r\n", b"\n")).decode("ascii"))
    if cte == "base64":
        return crlf(base64.encodebytes(data).decode("ascii"))
    return crlf(data.decode("latin-1"))


class Part:
    """One leaf body part: a text or a file."""

    def __init__(self, ctype, data, charset=None, cte="7bit", filename=None):
        self.ctype, self.data, self.charset, self.cte, self.filename = ctype, data, charset, cte, filename

    @staticmethod
    def text(subtype, text, charset="utf-8", cte=None):
        data = crlf(text).encode(charset)
        if cte is None:
            cte = "7bit" if all(b < 128 for b in data) else "quoted-printable"
        return Part("text/" + subtype, data, charset, cte)

    def headers(self):
        ctype = self.ctype + (f'; charset="{self.charset}"' if self.charset else "")
        if self.filename:
            ctype += f'; name="{self.filename}"'
        lines = [f"Content-Type: {ctype}", f"Content-Transfer-Encoding: {self.cte}"]
        if self.filename:
            lines.append(f'Content-Disposition: attachment; filename="{self.filename}"')
        return lines

    def render(self, boundaries):
        return "\r\n".join(self.headers()) + "\r\n\r\n" + encode_body(self.data, self.cte)


class Multi:
    def __init__(self, subtype, *parts):
        self.subtype, self.parts = subtype, parts

    def headers(self):
        return [f'Content-Type: multipart/{self.subtype}; boundary="{self.boundary}"']

    def render(self, boundaries):
        self.boundary = next(boundaries)
        inner = [p.render(boundaries) for p in self.parts]
        out = "\r\n".join(self.headers()) + "\r\n\r\nThis is a multi-part message in MIME format.\r\n"
        for text in inner:
            out += f"\r\n--{self.boundary}\r\n" + text.rstrip("\r\n") + "\r\n"
        return out + f"\r\n--{self.boundary}--\r\n"


def message(when, sender, to, subject, body, number, charset="utf-8", extra=()):
    """The bytes of one message. `body` is a Part or a Multi."""
    boundaries = (f"=_vcdemo_{number:04d}_{k}" for k in range(10))
    rendered = body.render(boundaries)  # sets the boundaries before the headers are read
    head = [
        f"From: {sender}",
        f"To: {to}",
        f"Subject: {header_text(subject, charset)}",
        f"Date: {format_datetime(when)}",
        f"Message-ID: <demo-{number:04d}.{when:%Y%m%d%H%M}@vellumcast.example>",
        *extra,
        "MIME-Version: 1.0",
    ]
    return ("\r\n".join(head) + "\r\n" + rendered).encode("latin-1")


# --- the people and shops ------------------------------------------------------

SHOPS = [
    # name, domain, currency, how its mail is built
    ("Copperleaf Books", "copperleaf-books.example", "£", "qp"),
    ("Fernhill Electronics", "fernhill.example", "€", "html"),
    ("Tidewater Kitchen Supply", "tidewater.example", "$", "plain"),
    ("Larkspur Outfitters", "larkspur.example", "£", "base64"),
]

PRODUCTS = {
    "Copperleaf Books": [("The Cartographer's Daughter (hardback)", 18.99), ("A Field Guide to Mosses", 12.50),
                         ("Tea & Trigonometry", 9.99), ("The Salt Road", 14.00), ("Night Trains of Europe", 21.00)],
    "Fernhill Electronics": [("USB-C cable, 2 m", 11.90), ("Wireless mouse M220", 24.90), ("27\" monitor arm", 59.00),
                             ("Noise-cancelling headphones", 149.00), ("SD card 128 GB", 19.50)],
    "Tidewater Kitchen Supply": [("Cast-iron skillet 10\"", 34.95), ("Chef's knife 8\"", 49.00),
                                 ("Linen tea towels (3)", 18.00), ("Pepper mill", 22.50), ("Dutch oven 5 qt", 79.95)],
    "Larkspur Outfitters": [("Merino base layer", 55.00), ("Trail socks (2 pairs)", 16.00), ("Rain shell", 120.00),
                            ("Wool beanie", 19.00), ("Hiking boots, size 42", 139.00)],
}

CARRIERS = [
    ("Parcelline", lambda r: "PL%09dGB" % r.randrange(10**8, 10**9), "https://track.parcelline.example/"),
    ("Swiftpost", lambda r: "1Z" + "".join(r.choice("0123456789ABCDEFGHJKLMNPRSTUVWXY") for _ in range(16)),
     "https://swiftpost.example/track?n="),
    ("Northway Freight", lambda r: "NW-%04d-%06d" % (r.randrange(1000, 9999), r.randrange(10**5, 10**6)),
     "https://northway.example/t/"),
]

FRIENDS = [
    ("Amélie Dubois", "amelie.dubois@example.fr", "iso-8859-1", "fr"),
    ("Jürgen Weiß", "juergen.weiss@example.de", "iso-8859-1", "de"),
    ("Zoë Papadopoulou", "zoe.p@example.gr", "utf-8", "el"),
    ("Marta Wiśniewska", "marta.w@example.pl", "utf-8", "pl"),
    ("Sam Okafor", "sam.okafor@example.com", "us-ascii", "en"),
]

NEWSLETTERS = [
    ("The Weekend Gardener", "news@weekendgardener.example", "Weekend Gardener"),
    ("Fernhill Deals", "deals@fernhill.example", "Fernhill Deals"),
    ("City Cycling Club", "club@citycycling.example", "Club news"),
]


def money(currency, amount):
    return f"{currency}{amount:,.2f}"


# --- message kinds -------------------------------------------------------------

def order_confirmation(order, when, n):
    shop, domain, cur, style = order["shop"]
    lines = [f"  {q} x {name:<40} {money(cur, q * price)}" for name, price, q in order["items"]]
    text = (f"Hello Robin,\n\n"
            f"Thank you for shopping with {shop}. Order #{order['no']} was placed on {when:%A %-d %B %Y}.\n\n"
            f"Items:\n" + "\n".join(lines) + "\n"
            f"Delivery: {money(cur, order['delivery'])}\n"
            f"Total: {money(cur, order['total'])}\n\n"
            f"Delivery address: Robin Vale, 14 Orchard Row, Bramwell BR4 7QT\n"
            f"Expected delivery: {order['expected']:%A %-d %B}\n\n"
            f"We will send you a tracking number as soon as your parcel leaves our warehouse.\n\n"
            f"Kind regards,\n{shop} customer service\n")
    subject = f"Order #{order['no']} confirmed"
    if style == "html":
        rows = "".join(f"<tr><td>{q} x {name.replace(chr(34), '&quot;')}</td><td>{money(cur, q * price)}</td></tr>"
                       for name, price, q in order["items"])
        html = (f"<html><body><h2>Thank you for your order</h2>"
                f"<p>Order #{order['no']} was placed on {when:%A %-d %B %Y}.</p>"
                f"<table>{rows}<tr><td><b>Total</b></td><td><b>{money(cur, order['total'])}</b></td></tr></table>"
                f"<p>We will send you a tracking number soon.</p></body></html>\n")
        body = Multi("alternative", Part.text("plain", text, cte="quoted-printable"), Part.text("html", html))
    elif style == "base64":
        body = Part.text("plain", text, cte="base64")
    elif style == "qp":
        body = Part.text("plain", text, cte="quoted-printable")
    else:
        body = Part.text("plain", text.replace("£", "GBP "), charset="us-ascii")
    return message(when, address(shop, "orders@" + domain), address(ME_NAME, ME), subject, body, n)


def shipping_notice(order, when, n):
    shop, domain, cur, style = order["shop"]
    carrier, _, url = order["carrier"]
    text = (f"Good news, Robin!\n\n"
            f"Order #{order['no']} is on its way with {carrier}.\n"
            f"Tracking number: {order['tracking']} ({carrier})\n"
            f"Track your parcel: {url}{order['tracking']}\n\n"
            f"Parcel contents:\n" + "".join(f"  {q} x {name}\n" for name, _, q in order["items"]) +
            f"\nExpected delivery: {order['expected']:%A %-d %B}\n\n{shop}\n")
    subject = f"Your order #{order['no']} has shipped"
    if style == "html":
        html = (f"<html><body><p>Good news, Robin!</p><p>Order #{order['no']} is on its way with {carrier}.</p>"
                f"<p>Tracking number: <a href=\"{url}{order['tracking']}\">{order['tracking']}</a> ({carrier})</p>"
                f"</body></html>\n")
        body = Multi("alternative", Part.text("plain", text), Part.text("html", html))
    else:
        body = Part.text("plain", text, cte="base64" if style == "base64" else None)
    return message(when, address(shop, "shipping@" + domain), address(ME_NAME, ME), subject, body, n)


def delivered_notice(order, when, n):
    carrier, _, url = order["carrier"]
    text = (f"Hello,\n\nYour parcel {order['tracking']} was delivered on {when:%A %-d %B at %H:%M}.\n"
            f"Left with: {rng.choice(['front door', 'neighbour at number 12', 'parcel locker', 'reception'])}\n"
            f"Sender reference: order #{order['no']} from {order['shop'][0]}\n\n"
            f"Tracking details: {url}{order['tracking']}\n\n{carrier} delivery team\n")
    domain = url.split("/")[2]
    return message(when, address(carrier, "noreply@" + domain), ME, f"Delivered: parcel {order['tracking']}",
                   Part.text("plain", text), n)


def invoice_with_attachment(order, when, n):
    shop, domain, cur, _ = order["shop"]
    inv = "INV-2025-%04d" % (order["no"] % 10000)
    text = (f"Dear Robin Vale,\n\nPlease find attached invoice {inv} for order #{order['no']} from {shop}.\n"
            f"Amount due: {money(cur, order['total'])} (already paid by card)\n\n"
            f"The attached CSV lists the items for your records.\n\n{shop} accounts\n")
    csv = "item,quantity,price\r\n" + "".join(f'"{name}",{q},{price:.2f}\r\n' for name, price, q in order["items"])
    pdf = (b"%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
           b"2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\n"
           b"% Invoice " + inv.encode() + b"\ntrailer << /Root 1 0 R >>\n%%EOF\n")
    body = Multi("mixed", Part.text("plain", text),
                 Part("application/pdf", pdf, cte="base64", filename=inv + ".pdf"),
                 Part("text/csv", csv.encode("utf-8"), charset="utf-8", cte="quoted-printable",
                      filename=inv + "-items.csv"))
    return message(when, address(shop + " Accounts", "accounts@" + domain), ME, f"Invoice {inv} for order #{order['no']}",
                   body, n)


NEWS_TOPICS = {
    "The Weekend Gardener": ["Planting garlic before the frost", "Five herbs for a shady balcony",
                             "Pruning roses without fear", "Seed swap this Saturday", "Compost that does not smell"],
    "Fernhill Deals": ["Spring sale: up to 40% off headphones", "New in: compact keyboards",
                       "Last chance: free delivery weekend", "Monitor arms back in stock", "Members' prices this week"],
    "City Cycling Club": ["Sunday ride to Hollow Lake", "Puncture repair evening", "Club jerseys are here",
                          "Route changes on the river path", "Annual meeting agenda"],
}


def newsletter(letter, issue, when, n, topic):
    name, mail, short = letter
    domain = mail.split("@")[1]
    unsub = f"https://{domain}/unsubscribe?list={short.replace(' ', '-').lower()}&remove={ME}"
    text = (f"{name} - issue {issue}\n\n{topic}\n" + "=" * len(topic) + "\n\n"
            f"This week we look at {topic.lower()}. Read the full story on our website:\n"
            f"https://{domain}/issue/{issue}\n\n"
            f"Also in this issue:\n- Readers' letters\n- A question from the mailbag\n\n"
            f"You receive this newsletter because you signed up at {domain}.\n"
            f"Unsubscribe: {unsub}\n")
    html = (f"<html><head><style>p {{ font-family: sans-serif; }}</style></head><body>"
            f"<h1>{name}</h1><h2>{topic}</h2><p>This week we look at {topic.lower()}.</p>"
            f"<p><a href=\"https://{domain}/issue/{issue}\">Read the full story</a></p>"
            f"<p style=\"font-size:small\">You receive this newsletter because you signed up at {domain}. "
            f"<a href=\"{unsub}\" target=\"_blank\">Unsubscribe</a></p></body></html>\n")
    body = Multi("alternative", Part.text("plain", text), Part.text("html", html, cte="quoted-printable"))
    return message(when, address(name, mail), ME, f"{short}: {topic}", body, n,
                   extra=(f"List-Unsubscribe: <{unsub}>",))


HTML_ONLY = [
    ("Bramwell Library", "library@bramwell.example", "Your loans are due soon",
     "<p>Dear Robin,</p><p>These items are due back on <b>{due}</b>:</p><ul><li>Night Trains of Europe</li>"
     "<li>The Salt Road</li></ul><p>Renew online at https://library.bramwell.example/renew</p>"),
    ("Northbank Energy", "billing@northbank.example", "Your statement is ready",
     "<p>Hello Robin,</p><p>Your statement for account <b>NB-558210</b> is ready.</p>"
     "<table><tr><td>Amount due:</td><td>£{amount}</td></tr><tr><td>Due date:</td><td>{due}</td></tr></table>"
     "<p>Reference: NB-558210-{ref}</p>"),
    ("Orchard Row Residents", "residents@orchardrow.example", "Street party planning",
     "<p>Hi all,</p><p>The street party is on <b>{due}</b>. Bring a dish to share!</p>"
     "<p>Tables: number 12<br>Music: number 3<br>Games: number 14</p>"),
    ("Bramwell Dental Practice", "reception@bramwelldental.example", "Appointment reminder",
     "<p>Dear Robin Vale,</p><p>This is a reminder of your appointment on <b>{due}</b> at 10:40.</p>"
     "<p>Please call 01632 960 118 if you need to change it.</p>"),
]


def html_only(kind, when, n):
    name, mail, subject, template = kind
    due = (when + dt.timedelta(days=rng.randrange(3, 12))).strftime("%A %-d %B")
    inner = template.format(due=due, amount=f"{rng.randrange(40, 140)}.{rng.randrange(0, 100):02d}",
                            ref=rng.randrange(1000, 9999))
    html = f"<!DOCTYPE html><html><head><title>{subject}</title></head><body>{inner}</body></html>\n"
    cte = "base64" if n % 2 else "quoted-printable"
    return message(when, address(name, mail), ME, subject, Part.text("html", html, cte=cte), n)


PERSONAL = {
    "fr": [("Photos du week-end à Étretat",
            "Salut Robin,\n\nVoici enfin les photos du week-end à Étretat. Le déjeuner au café du port était "
            "délicieux !\nOn se voit à Noël ?\n\nÀ bientôt,\nAmélie\n"),
           ("Re: la recette du gâteau",
            "Coucou,\n\nLa recette : 200 g de farine, 150 g de sucre, 3 œufs... pardon, 3 oeufs, et une pincée de "
            "sel.\nCuisson : 35 minutes à 180 °C.\n\nBisous,\nAmélie\n")],
    "de": [("Grüße aus München",
            "Hallo Robin,\n\nviele Grüße aus München! Das Wetter ist schön, die Brezeln sind groß.\n"
            "Nächste Woche fahre ich nach Köln.\n\nBis bald,\nJürgen\n"),
           ("Übersetzung fertig",
            "Hallo Robin,\n\ndie Übersetzung ist fertig. Bitte prüfe Abschnitt 3 (Gebühren für Änderungen).\n"
            "Tracking der Änderungen ist eingeschaltet.\n\nGruß,\nJürgen\n")],
    "el": [("Καλημέρα από την Αθήνα",
            "Γεια σου Robin,\n\nΚαλημέρα από την Αθήνα! ☀️ The tickets for May are booked.\n"
            "Flight: A3 601, seat 14C.\n\nΖωή\n")],
    "pl": [("Dziękuję za książkę!",
            "Cześć Robin,\n\nDziękuję za książkę — „Night Trains of Europe” jest świetna. 📚\n"
            "Oddam ją w przyszłym tygodniu.\n\nPozdrawiam,\nMarta\n")],
    "en": [("Saturday climbing?",
            "Hi Robin,\n\nAre you up for climbing on Saturday? The wall opens at 9.\n"
            "I can pick you up at 8:30.\n\nSam\n"),
           ("Lent you my drill",
            "Hey,\n\njust a note: you still have my drill (the green one). No hurry, but I need it by the 20th.\n\n"
            "Cheers,\nSam\n")],
}


def personal(friend, when, n, index):
    name, mail, charset, lang = friend
    subject, text = PERSONAL[lang][index % len(PERSONAL[lang])]
    if charset == "iso-8859-1":
        body = Part.text("plain", text.replace("œ", "oe"), charset="iso-8859-1", cte="quoted-printable")
    elif charset == "utf-8":
        body = Part.text("plain", text, cte="base64")
    else:
        body = Part.text("plain", text, charset="us-ascii")
    return message(when, address(name, mail, charset if charset != "us-ascii" else "utf-8"), address(ME_NAME, ME),
                   subject, body, n, charset=charset if charset == "iso-8859-1" else "utf-8")


def receipt(when, n):
    shop = rng.choice(["Corner Bakery", "Bramwell Cinema", "Quayside Parking", "Greenway Pharmacy"])
    amount = rng.randrange(300, 4500) / 100
    ref = "R%07d" % rng.randrange(10**6, 10**7)
    text = (f"Receipt from {shop}\n\nDate: {when:%d/%m/%Y %H:%M}\nReference: {ref}\n"
            f"Amount: £{amount:.2f}\nPaid with: card ending 4417\n\nThank you for your visit.\n")
    return message(when, address(shop, "receipts@pay.example"), ME, f"Your receipt from {shop}",
                   Part.text("plain", text, cte="quoted-printable"), n)


def meeting(when, n, k):
    topic = ["project sync", "budget review", "website relaunch", "quarterly planning"][k % 4]
    day = when + dt.timedelta(days=2)
    text = (f"Hi Robin,\n\nreminder: {topic} on {day:%A %-d %B}.\n\nWhen: {day:%A %-d %B}, 14:00-15:00\n"
            f"Where: Room 2.14 and online (https://meet.example/{topic.replace(' ', '-')})\n\nAgenda:\n"
            f"1. Notes from last time\n2. Open questions\n3. Next steps\n\nPriya\n")
    return message(when, address("Priya Raman", "priya.raman@work.example"), ME, f"Meeting: {topic}",
                   Part.text("plain", text), n)


def reply(original_subject, to, when, n, text):
    return message(when, address(ME_NAME, ME), to, "Re: " + original_subject, Part.text("plain", text), n)


SPAM = [
    ("Prize Department", "winner@lucky-draw.example", "Congratulations!!! You have WON",
     "<html><body><h1>YOU ARE A WINNER</h1><p>Claim your prize of $1,000,000 now!</p>"
     "<a href=\"https://lucky-draw.example/claim?id={id}&remove={me}\" target=\"_blank\">Click here</a>"
     "<img src=\"https://lucky-draw.example/pixel.gif?u={id}\" width=\"1\" height=\"1\"></body></html>"),
    ("Watch Outlet", "sales@cheap-watches.example", "Luxury watches -90% today only",
     "<html><body><p>Top brands at unbelievable prices.</p>"
     "<p><a href=\"https://cheap-watches.example/?remove={me}\" target=\"_blank\">unsubscribe</a></p></body></html>"),
    ("Account Security", "security@verify-acc0unt.example", "Urgent: verify your account",
     "<html><body><p>Your mailbox will be closed in 24 hours.</p>"
     "<p><a href=\"https://verify-acc0unt.example/login?remove={me}\" target=\"_blank\">Verify now</a></p>"
     "</body></html>"),
]


def spam(kind, when, n, k):
    name, mail, subject, template = kind
    html = template.format(id=1000 + k, me=ME) + "\n"
    if k % 3 == 0:
        body = Part.text("plain", html)  # HTML sent as plain text, as spam often is
    elif k % 3 == 1:
        body = Part.text("html", html, cte="base64")
    else:
        body = Multi("alternative", Part.text("plain", "Open this mail in a browser.\n"), Part.text("html", html))
    return message(when, address(name, mail), ME, subject, body, n)


# --- the mailbox -----------------------------------------------------------------

def make_orders():
    orders, no = [], 48207
    for k in range(34):
        shop = SHOPS[k % len(SHOPS)]
        picks = rng.sample(PRODUCTS[shop[0]], rng.randrange(1, 4))
        items = [(name, price, rng.randrange(1, 3)) for name, price in picks]
        delivery = rng.choice([0.0, 2.99, 3.95, 4.50])
        placed = START + dt.timedelta(days=k * 3.4 + rng.random(), minutes=rng.randrange(600))
        carrier = CARRIERS[k % len(CARRIERS)]
        no += rng.randrange(3, 90)
        orders.append(dict(no=no, shop=shop, items=items, delivery=delivery,
                           total=sum(p * q for _, p, q in items) + delivery, placed=placed,
                           expected=placed + dt.timedelta(days=rng.randrange(3, 7)),
                           carrier=carrier, tracking=carrier[1](rng), shipped=k % 6 != 5))
    return orders


def inbox_events(orders):
    events = []  # (when, builder)
    for k, o in enumerate(orders):
        events.append((o["placed"], lambda w, n, o=o: order_confirmation(o, w, n)))
        if o["shipped"]:
            shipped = o["placed"] + dt.timedelta(days=1, hours=rng.randrange(1, 30))
            events.append((shipped, lambda w, n, o=o: shipping_notice(o, w, n)))
            if k % 3 != 2:
                done = shipped + dt.timedelta(days=2, hours=rng.randrange(0, 20))
                events.append((done, lambda w, n, o=o: delivered_notice(o, w, n)))
        if k % 5 == 1:
            events.append((o["placed"] + dt.timedelta(hours=3), lambda w, n, o=o: invoice_with_attachment(o, w, n)))
    for i, letter in enumerate(NEWSLETTERS):
        for issue in range(9):
            when = START + dt.timedelta(days=issue * 12 + i * 4, hours=6)
            topic = NEWS_TOPICS[letter[0]][issue % 5]
            events.append((when, lambda w, n, l=letter, s=issue + 41, t=topic: newsletter(l, s, w, n, t)))
    for k in range(14):
        when = START + dt.timedelta(days=k * 8 + 2, hours=rng.randrange(8, 20))
        events.append((when, lambda w, n, kind=HTML_ONLY[k % len(HTML_ONLY)]: html_only(kind, w, n)))
    for k in range(12):
        when = START + dt.timedelta(days=k * 9 + 5, hours=rng.randrange(7, 23))
        friend = FRIENDS[k % len(FRIENDS)]
        events.append((when, lambda w, n, f=friend, i=k // len(FRIENDS): personal(f, w, n, i)))
    for k in range(8):
        events.append((START + dt.timedelta(days=k * 13 + 7, hours=13), lambda w, n: receipt(w, n)))
    for k in range(6):
        events.append((START + dt.timedelta(days=k * 17 + 1, hours=9), lambda w, n, k=k: meeting(w, n, k)))
    return events


def sent_events(orders):
    events = []
    for k, o in enumerate(orders[:14]):
        shop, domain, _, _ = o["shop"]
        when = o["placed"] + dt.timedelta(days=2, hours=5)
        text = (f"Hello,\n\ncould you tell me when order #{o['no']} will ship? I have not had a tracking number "
                f"yet.\n\nThanks,\nRobin Vale\n\n> Order #{o['no']} was placed on {o['placed']:%A %-d %B %Y}.\n")
        events.append((when, lambda w, n, s=f"Order #{o['no']} confirmed", to=address(shop, "orders@" + domain),
                       t=text: reply(s, to, w, n, t)))
    for k, friend in enumerate(FRIENDS * 2):
        name, mail, _, lang = friend
        subject = PERSONAL[lang][k // len(FRIENDS) % len(PERSONAL[lang])][0]
        when = START + dt.timedelta(days=k * 9 + 6, hours=21)
        text = f"Hi {name.split()[0]},\n\nthank you! Talk soon.\n\nRobin\n"
        events.append((when, lambda w, n, s=subject, to=address(name, mail), t=text: reply(s, to, w, n, t)))
    events.append((START + dt.timedelta(days=40, hours=10),
                   lambda w, n: reply("Meeting: budget review", address("Priya Raman", "priya.raman@work.example"),
                                      w, n, "Hi Priya,\n\nI will join online.\n\nRobin\n")))
    return events


def junk_events():
    events = []
    for k in range(15):
        when = START + dt.timedelta(days=k * 7 + 3, hours=rng.randrange(0, 24))
        events.append((when, lambda w, n, kind=SPAM[k % len(SPAM)], k=k: spam(kind, w, n, k)))
    return events


def write_folder(outdir, folder, events, first_number):
    path = os.path.join(outdir, folder)
    os.makedirs(path, exist_ok=True)
    for name in os.listdir(path):
        if name.endswith(".eml"):
            os.remove(os.path.join(path, name))
    # Real mail does not arrive on the minute.
    events = sorted(((when + dt.timedelta(minutes=rng.randrange(-11, 48), seconds=rng.randrange(60)), build)
                     for when, build in events), key=lambda e: e[0])
    for i, (when, build) in enumerate(events, 1):
        data = build(when, first_number + i)
        with open(os.path.join(path, f"{i:04d}.eml"), "wb") as f:
            f.write(data)
    return len(events)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: demo-mailbox.py OUTDIR")
    outdir = sys.argv[1]
    orders = make_orders()
    counts = []
    number = 0
    for folder, events in (("Inbox", inbox_events(orders)), ("Sent", sent_events(orders)), ("Junk", junk_events())):
        written = write_folder(outdir, folder, events, number)
        number += written
        counts.append(f"{folder} {written}")
    print("demo mailbox in %s: %s" % (outdir, ", ".join(counts)))


if __name__ == "__main__":
    main()
