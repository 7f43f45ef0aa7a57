<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB" sourcelanguage="zh_CN">
<context>
    <name>ozm</name>
    <message>
        <source> [宽度:%1,高度:%2]</source>
        <translation> [width:%1,height:%2]</translation>
    </message>
    <message>
        <source> 帮    助 </source>
        <translation> Help </translation>
    </message>
    <message>
        <source>JPG质量</source>
        <translation>JPG quality</translation>
    </message>
    <message>
        <source>OZM图片批量转换器</source>
        <translation>OZM Batch Image Converter</translation>
    </message>
    <message>
        <source>OZM软件卸载程序</source>
        <translation>OZM Software Uninstaller</translation>
    </message>
    <message>
        <source>OZM软件在线升级</source>
        <translation>OZM Software Online Update</translation>
    </message>
    <message>
        <source>[宽度:%1,高度:%2]</source>
        <translation>[width:%1,height:%2]</translation>
    </message>
    <message>
        <source>“转换前文件夹”图片列表</source>
        <translation>Images in the “folder before conversion”</translation>
    </message>
    <message>
        <source>“转换后文件夹”图片列表</source>
        <translation>Images in the “folder after conversion”</translation>
    </message>
    <message>
        <source>下载地址错误，请稍候再更新，或直接到官方主页更新</source>
        <translation>The download address is wrong. Please update later, or update from the official home page.</translation>
    </message>
    <message>
        <source>下载进度</source>
        <translation>Download progress</translation>
    </message>
    <message>
        <source>不卸载，关闭窗口</source>
        <translation>Close the window without uninstalling</translation>
    </message>
    <message>
        <source>不改名称，关闭窗口</source>
        <translation>Close the window without renaming</translation>
    </message>
    <message>
        <source>不旋转</source>
        <translation>No rotation</translation>
    </message>
    <message>
        <source>不缩放</source>
        <translation>No scaling</translation>
    </message>
    <message>
        <source>从最近转换的文件夹中选择%1</source>
        <translation>Choose the %1 from the recently converted folders</translation>
    </message>
    <message>
        <source>从本机卸载本软件</source>
        <translation>Uninstall this software from this computer</translation>
    </message>
    <message>
        <source>你已成功卸载『%1』</source>
        <translation>You have uninstalled “%1”.</translation>
    </message>
    <message>
        <source>你已成功卸载『%s』</source>
        <translation>You have uninstalled “%s”.</translation>
    </message>
    <message>
        <source>你确定要删除吗？</source>
        <translation>Are you sure you want to delete?</translation>
    </message>
    <message>
        <source>停止正在进行的转换</source>
        <translation>Stop the conversion in progress</translation>
    </message>
    <message>
        <source>停止转换</source>
        <translation>Stop conversion</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>关闭此窗口并停止转换</source>
        <translation>Close this window and stop the conversion</translation>
    </message>
    <message>
        <source>关闭窗口；已开始的下载继续进行</source>
        <translation>Close the window; a download already started goes on</translation>
    </message>
    <message>
        <source>列表分隔条</source>
        <translation>List splitter</translation>
    </message>
    <message>
        <source>删除所选图片</source>
        <translation>Delete the selected images</translation>
    </message>
    <message>
        <source>勾选后转换为%1格式</source>
        <translation>When ticked, convert to %1</translation>
    </message>
    <message>
        <source>单击按钮&quot;开始卸载&quot;前，请您先关闭所有OZM软件。</source>
        <translation>Before you click &quot;Uninstall&quot;, please close all OZM software.</translation>
    </message>
    <message>
        <source>卸载OZM软件 - 图片批量转换</source>
        <translation>Uninstall OZM Software - Batch Image Converter</translation>
    </message>
    <message>
        <source>发现更新的版本，是否下载并安装？</source>
        <translation>A newer version is available. Download and install it?</translation>
    </message>
    <message>
        <source>只填宽或高，另一边按原图比例算出</source>
        <translation>Fill in only the width or height; the other follows the source&apos;s proportions</translation>
    </message>
    <message>
        <source>可移动硬盘</source>
        <translation>Removable disk</translation>
    </message>
    <message>
        <source>可移动磁盘</source>
        <translation>Removable disk</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>图片快速转换</source>
        <translation>Quick image conversion</translation>
    </message>
    <message>
        <source>图片批量转换</source>
        <translation>Batch Image Converter</translation>
    </message>
    <message>
        <source>图片比例类型</source>
        <translation>Image scaling</translation>
    </message>
    <message>
        <source>图片转换</source>
        <translation>Convert images</translation>
    </message>
    <message>
        <source>图片转换后自动关闭此窗体</source>
        <translation>Close this window after converting</translation>
    </message>
    <message>
        <source>在&quot;画图&quot;中打开</source>
        <translation>Open in the image editor</translation>
    </message>
    <message>
        <source>在列表下显示所选图片</source>
        <translation>Show the selected image below the list</translation>
    </message>
    <message>
        <source>在文件管理器中打开%1</source>
        <translation>Open the %1 in the file manager</translation>
    </message>
    <message>
        <source>在文件管理器中打开转换后的图片所在的文件夹</source>
        <translation>Open the folder of the converted images in the file manager</translation>
    </message>
    <message>
        <source>在浏览器中打开软件主页</source>
        <translation>Open the software&apos;s home page in the browser</translation>
    </message>
    <message>
        <source>好质量(75%)</source>
        <translation>Good quality (75%)</translation>
    </message>
    <message>
        <source>宽</source>
        <translation>Width</translation>
    </message>
    <message>
        <source>宽度</source>
        <translation>width</translation>
    </message>
    <message>
        <source>居中</source>
        <translation>Centre</translation>
    </message>
    <message>
        <source>工具栏</source>
        <translation>Toolbar</translation>
    </message>
    <message>
        <source>工具栏分隔条</source>
        <translation>Toolbar splitter</translation>
    </message>
    <message>
        <source>已完成所有图片转换</source>
        <translation>All images converted</translation>
    </message>
    <message>
        <source>已完成所有图片转换（成功 %1 个，失败 %2 个）</source>
        <translation>All images converted (%1 converted, %2 failed)</translation>
    </message>
    <message>
        <source>平均质量(25%)</source>
        <translation>Average quality (25%)</translation>
    </message>
    <message>
        <source>平铺</source>
        <translation>Tile</translation>
    </message>
    <message>
        <source>开始卸载</source>
        <translation>Uninstall</translation>
    </message>
    <message>
        <source>开始转换</source>
        <translation>Start conversion</translation>
    </message>
    <message>
        <source>当前已是最新版本</source>
        <translation>This is already the latest version</translation>
    </message>
    <message>
        <source>当前路径</source>
        <translation>Current folder</translation>
    </message>
    <message>
        <source>很抱歉，本软件暂时不支持此图片格式。</source>
        <translation>Sorry, this image format is not supported yet.</translation>
    </message>
    <message>
        <source>成功转换</source>
        <translation>Converted </translation>
    </message>
    <message>
        <source>成功转换%1</source>
        <translation>Converted %1</translation>
    </message>
    <message>
        <source>我的图片</source>
        <translation>My Pictures</translation>
    </message>
    <message>
        <source>我的图片收藏(&amp;P)</source>
        <translation>My &amp;Pictures</translation>
    </message>
    <message>
        <source>我的收藏夹</source>
        <translation>My favourite folders</translation>
    </message>
    <message>
        <source>我的文档</source>
        <translation>My Documents</translation>
    </message>
    <message>
        <source>我的文档(&amp;D)</source>
        <translation>My &amp;Documents</translation>
    </message>
    <message>
        <source>我的桌面</source>
        <translation>Desktop</translation>
    </message>
    <message>
        <source>我的桌面(&amp;T)</source>
        <translation>Desk&amp;top</translation>
    </message>
    <message>
        <source>所有转换已完成，请查看“转换后图片列表”</source>
        <translation>All conversions are done; see the images after conversion</translation>
    </message>
    <message>
        <source>所有转换已完成，请查看“转换后图片列表”（成功 %1 个，失败 %2 个）</source>
        <translation>All conversions are done; see the images after conversion (%1 converted, %2 failed)</translation>
    </message>
    <message>
        <source>打开所在文件夹</source>
        <translation>Open the containing folder</translation>
    </message>
    <message>
        <source>打开所在的文件夹</source>
        <translation>Open the containing folder</translation>
    </message>
    <message>
        <source>打开文件夹</source>
        <translation>Open folder</translation>
    </message>
    <message>
        <source>打开目标文件夹</source>
        <translation>Open target folder</translation>
    </message>
    <message>
        <source>把%1设为可移动磁盘</source>
        <translation>Set the %1 to the removable disk</translation>
    </message>
    <message>
        <source>把%1设为我的图片</source>
        <translation>Set the %1 to My Pictures</translation>
    </message>
    <message>
        <source>把%1设为我的文档</source>
        <translation>Set the %1 to My Documents</translation>
    </message>
    <message>
        <source>把%1设为收藏的文件夹</source>
        <translation>Set the %1 to a favourite folder</translation>
    </message>
    <message>
        <source>把%1设为桌面</source>
        <translation>Set the %1 to the desktop</translation>
    </message>
    <message>
        <source>把图片改为输入的名称</source>
        <translation>Rename the image to the name entered</translation>
    </message>
    <message>
        <source>把所选图片转换为勾选的格式</source>
        <translation>Convert the selected images to the ticked formats</translation>
    </message>
    <message>
        <source>把预览图片拉伸到预览区的大小</source>
        <translation>Stretch the preview to the size of the preview area</translation>
    </message>
    <message>
        <source>拷贝到剪贴板</source>
        <translation>Copy to clipboard</translation>
    </message>
    <message>
        <source>指定尺寸</source>
        <translation>Given size</translation>
    </message>
    <message>
        <source>指定尺寸缩放</source>
        <translation>To a given size</translation>
    </message>
    <message>
        <source>按原图比例</source>
        <translation>Keep proportions</translation>
    </message>
    <message>
        <source>按比例缩放</source>
        <translation>By percentage</translation>
    </message>
    <message>
        <source>提示栏</source>
        <translation>Status bar</translation>
    </message>
    <message>
        <source>提醒</source>
        <translation>Reminder</translation>
    </message>
    <message>
        <source>收藏夹设置</source>
        <translation>Favourite folder settings</translation>
    </message>
    <message>
        <source>收藏的文件夹</source>
        <translation>Favourite folder</translation>
    </message>
    <message>
        <source>文件夹按钮</source>
        <translation>Folder buttons</translation>
    </message>
    <message>
        <source>新建文件夹</source>
        <translation>New folder</translation>
    </message>
    <message>
        <source>旋转</source>
        <translation>Rotation</translation>
    </message>
    <message>
        <source>旋转180度</source>
        <translation>Rotate 180°</translation>
    </message>
    <message>
        <source>旋转270度</source>
        <translation>Rotate 270°</translation>
    </message>
    <message>
        <source>旋转90度</source>
        <translation>Rotate 90°</translation>
    </message>
    <message>
        <source>旋转方式</source>
        <translation>Rotation</translation>
    </message>
    <message>
        <source>旋转角度</source>
        <translation>Rotation angle</translation>
    </message>
    <message>
        <source>旋转角度的百分之一度</source>
        <translation>Hundredths of a degree of the rotation angle</translation>
    </message>
    <message>
        <source>普通质量(50%)</source>
        <translation>Normal quality (50%)</translation>
    </message>
    <message>
        <source>更改名称</source>
        <translation>Rename</translation>
    </message>
    <message>
        <source>最佳质量 (100%)</source>
        <translation>Best quality (100%)</translation>
    </message>
    <message>
        <source>最佳适合桌面</source>
        <translation>Fit the desktop</translation>
    </message>
    <message>
        <source>最近使用过的路径</source>
        <translation>Recently used folders</translation>
    </message>
    <message>
        <source>最近转换的文件夹</source>
        <translation>Recently converted folders</translation>
    </message>
    <message>
        <source>查看OZM最新软件</source>
        <translation>See the latest OZM software</translation>
    </message>
    <message>
        <source>根据宽度自动调整</source>
        <translation>Adjust to the width</translation>
    </message>
    <message>
        <source>桌面最佳位置</source>
        <translation>Best position on the desktop</translation>
    </message>
    <message>
        <source>检查更新</source>
        <translation>Check for updates</translation>
    </message>
    <message>
        <source>检查网上有没有新版本</source>
        <translation>Check online for a newer version</translation>
    </message>
    <message>
        <source>正在转换图片，请稍候: </source>
        <translation>Converting image, please wait: </translation>
    </message>
    <message>
        <source>正在转换图片，请稍候: %1 ,Please waiting...</source>
        <translation>Converting image, please wait: %1</translation>
    </message>
    <message>
        <source>用默认方式打开</source>
        <translation>Open with the default program</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>磁盘%1不存在，请重选择一个路径。</source>
        <translation>Drive %1 does not exist. Please choose another path.</translation>
    </message>
    <message>
        <source>磁盘%s不存在，请重选择一个路径。</source>
        <translation>Drive %s does not exist. Please choose another path.</translation>
    </message>
    <message>
        <source>程序菜单</source>
        <translation>Program menu</translation>
    </message>
    <message>
        <source>简单质量(10%)</source>
        <translation>Basic quality (10%)</translation>
    </message>
    <message>
        <source>缩放百分比</source>
        <translation>Scale percentage</translation>
    </message>
    <message>
        <source>自动调整</source>
        <translation>Adjust automatically</translation>
    </message>
    <message>
        <source>自定义图片转换</source>
        <translation>Custom image conversion</translation>
    </message>
    <message>
        <source>设置为墙纸</source>
        <translation>Set as wallpaper</translation>
    </message>
    <message>
        <source>设置旋转角度</source>
        <translation>Set rotation angle</translation>
    </message>
    <message>
        <source>设置旋转角度并转换</source>
        <translation>Set rotation angle and convert</translation>
    </message>
    <message>
        <source>设置缩放比例</source>
        <translation>Set scale</translation>
    </message>
    <message>
        <source>设置缩放比例并转换</source>
        <translation>Set scale and convert</translation>
    </message>
    <message>
        <source>请插入可移动磁盘.</source>
        <translation>Please insert a removable disk.</translation>
    </message>
    <message>
        <source>请插入可移动磁盘。</source>
        <translation>Please insert a removable disk.</translation>
    </message>
    <message>
        <source>请选择一个合法的文件夹名称</source>
        <translation>Please choose a valid folder name</translation>
    </message>
    <message>
        <source>请选择一个图片</source>
        <translation>Please select an image</translation>
    </message>
    <message>
        <source>请选择一个或多个路径</source>
        <translation>Please select one or more paths</translation>
    </message>
    <message>
        <source>请选择一个路径</source>
        <translation>Please choose a path</translation>
    </message>
    <message>
        <source>请选择您喜欢的文件夹.</source>
        <translation>Please choose your favourite folder.</translation>
    </message>
    <message>
        <source>请选择源文件夹和目标文件夹</source>
        <translation>Please choose the source folder and the target folder</translation>
    </message>
    <message>
        <source>请选择目标文件夹</source>
        <translation>Please choose the target folder</translation>
    </message>
    <message>
        <source>转换为BMP图片</source>
        <translation>Convert to BMP</translation>
    </message>
    <message>
        <source>转换为JPG图片, </source>
        <translation>Convert to JPG, </translation>
    </message>
    <message>
        <source>转换为JPG图片, %1</source>
        <translation>Convert to JPG, %1</translation>
    </message>
    <message>
        <source>转换为JPG图片, 75%</source>
        <translation>Convert to JPG, 75%</translation>
    </message>
    <message>
        <source>转换为PNG图片</source>
        <translation>Convert to PNG</translation>
    </message>
    <message>
        <source>转换为其他图片格式</source>
        <translation>Convert to other formats</translation>
    </message>
    <message>
        <source>转换前图片菜单</source>
        <translation>Source image menu</translation>
    </message>
    <message>
        <source>转换前文件夹</source>
        <translation>source folder</translation>
    </message>
    <message>
        <source>转换后图片菜单</source>
        <translation>Converted image menu</translation>
    </message>
    <message>
        <source>转换后打开目标文件夹</source>
        <translation>Open the target folder after converting</translation>
    </message>
    <message>
        <source>转换后文件夹</source>
        <translation>target folder</translation>
    </message>
    <message>
        <source>转换后自动关闭进度条</source>
        <translation>Close the progress window after converting</translation>
    </message>
    <message>
        <source>转换失败</source>
        <translation>Failed to convert </translation>
    </message>
    <message>
        <source>转换失败%1</source>
        <translation>Failed to convert %1</translation>
    </message>
    <message>
        <source>转换失败%1（%2）</source>
        <translation>Failed to convert %1 (%2)</translation>
    </message>
    <message>
        <source>转换完成后自动关闭此窗口</source>
        <translation>Close this window when the conversion is done</translation>
    </message>
    <message>
        <source>转换所选图片(&amp;C)</source>
        <translation>&amp;Convert the selected images</translation>
    </message>
    <message>
        <source>转换时不改变图片大小</source>
        <translation>Keep the image size when converting</translation>
    </message>
    <message>
        <source>转换时按百分比缩放</source>
        <translation>Scale by a percentage when converting</translation>
    </message>
    <message>
        <source>转换时缩放到指定的宽和高</source>
        <translation>Scale to the given width and height when converting</translation>
    </message>
    <message>
        <source>转换格式</source>
        <translation>Output format</translation>
    </message>
    <message>
        <source>转换进度</source>
        <translation>Conversion progress</translation>
    </message>
    <message>
        <source>软件正在更新中，请稍候...</source>
        <translation>Updating the software, please wait...</translation>
    </message>
    <message>
        <source>选择%1</source>
        <translation>Choose the %1</translation>
    </message>
    <message>
        <source>选择收藏的文件夹</source>
        <translation>Choose a favourite folder</translation>
    </message>
    <message>
        <source>选择文件夹</source>
        <translation>Choose folder</translation>
    </message>
    <message>
        <source>选择目标文件夹</source>
        <translation>Choose target folder</translation>
    </message>
    <message>
        <source>选择要收藏的文件夹</source>
        <translation>Choose a folder to keep as favourite</translation>
    </message>
    <message>
        <source>重命名</source>
        <translation>Rename</translation>
    </message>
    <message>
        <source>页面</source>
        <translation>Pages</translation>
    </message>
    <message>
        <source>页面标签</source>
        <translation>Page tabs</translation>
    </message>
    <message>
        <source>预览</source>
        <translation>Preview</translation>
    </message>
    <message>
        <source>预览分隔条</source>
        <translation>Preview splitter</translation>
    </message>
    <message>
        <source>预览图片</source>
        <translation>Preview image</translation>
    </message>
    <message>
        <source>高</source>
        <translation>Height</translation>
    </message>
    <message>
        <source>高度</source>
        <translation>height</translation>
    </message>
    <message>
        <source>默认打开(&amp;D)</source>
        <translation>Open by &amp;default</translation>
    </message>
</context>
</TS>
