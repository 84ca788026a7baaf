#!/usr/bin/env python3
"""Writes the security-settings document of the program folder
(resources/Corvant系统安全配置说明文档.docx): a minimal WordprocessingML package.

Run from anywhere: python3 tray/tools/make-security-doc.py
"""
import os
import zipfile
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))
TARGET = os.path.join(HERE, "..", "..", "resources", "Corvant系统安全配置说明文档.docx")

TITLE = "Corvant系统安全配置说明文档"
PARAGRAPHS = [
    ("h", "一、程序组成"),
    ("p", "打印服务 Kelvorn 与托盘程序 Pallowen 在本机协同工作：浏览器页面把发票数据发给打印服务，"
          "打印服务再交给当前桌面用户的托盘程序预览和打印。"),
    ("h", "二、网络端口"),
    ("p", "打印服务监听 127.0.0.1 的 18086 端口；托盘程序监听 127.0.0.1 上从 49152 起第一个空闲端口。"
          "两个端口都只接受本机连接，无需在防火墙中对外开放。"),
    ("p", "如本机安全软件拦截本地回环连接，请把 Kelvorn 和 Pallowen 加入信任列表。"),
    ("h", "三、证书"),
    ("p", "安装时在程序目录的 server 文件夹中生成本机专用的根证书 root.crt 和服务证书；"
          "根证书的私钥在签发后即被销毁。请把 root.crt 导入浏览器或系统的受信任根证书，"
          "浏览器页面才能访问 https://127.0.0.1:18086。"),
    ("h", "四、运行权限"),
    ("p", "打印服务以系统服务 qelt 运行；托盘程序以桌面用户身份运行，并在打印服务无响应时重新启动它。"
          "打印数据只在本机内存中传递，打印完成后即释放。"),
    ("h", "五、常见问题"),
    ("p", "系统托盘中没有打印图标时，请重新启动 Pallowen；提示“打印服务已经在运行”时，说明托盘程序已在运行。"),
]

CONTENT_TYPES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>
</Types>
"""

RELS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>
</Relationships>
"""


def run(text, bold=False, size=None):
    props = ""
    if bold or size:
        props = "<w:rPr>" + ("<w:b/>" if bold else "") + \
                (f'<w:sz w:val="{size}"/>' if size else "") + "</w:rPr>"
    return f'<w:r>{props}<w:t xml:space="preserve">{escape(text)}</w:t></w:r>'


def document():
    body = ['<w:p><w:pPr><w:jc w:val="center"/></w:pPr>' + run(TITLE, True, 36) + "</w:p>"]
    for kind, text in PARAGRAPHS:
        body.append("<w:p>" + run(text, kind == "h", 28 if kind == "h" else None) + "</w:p>")
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">'
            "<w:body>" + "".join(body) + "</w:body></w:document>\n")


def main():
    # Fixed timestamps keep the file byte-identical between runs.
    stamp = (2024, 1, 1, 0, 0, 0)
    with zipfile.ZipFile(TARGET, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in (("[Content_Types].xml", CONTENT_TYPES), ("_rels/.rels", RELS),
                           ("word/document.xml", document())):
            info = zipfile.ZipInfo(name, stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data.encode("utf-8"))


if __name__ == "__main__":
    main()
