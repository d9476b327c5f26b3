#include "chat/PagedView.h"

namespace {

// A JavaScript string literal of text (single-quoted).
QString jsString(const QString& text)
{
    QString out = text;
    out.replace(u'\\', QLatin1String("\\\\")).replace(u'\'', QLatin1String("\\'"));
    out.replace(u'\n', QLatin1String("\\n")).replace(u'\r', QLatin1String("\\r"));
    out.replace(u'<', QLatin1String("\\x3c"));
    return u'\'' + out + u'\'';
}

} // namespace

QString pagedViewScript(const TPagedViewScript& view)
{
    static const QString script = QStringLiteral(R"(
(function(){
var first=%1,last=%2,total=%2,busy=false,failed=false,url=%3,page=%5,keep=%6,margin=1500;
var list=document.getElementById('list'),more=document.getElementById('more'),root=document.scrollingElement||document.documentElement;
function mark(){document.body.dataset.first=first;document.body.dataset.last=last;more.style.display=first>0?'':'none';}
function entries(){return list.querySelectorAll(%4);}
function get(a,b,done){
 busy=true;var x=new XMLHttpRequest();x.open('GET',url+'/'+a+'/'+b);
 x.onload=function(){busy=false;if(x.status!==200){failed=true;return;}done(x.responseText);mark();check();};
 x.onerror=function(){busy=false;failed=true;};x.send();
}
function up(){var a=Math.max(0,first-page);get(a,first,function(html){
 var h=root.scrollHeight,y=window.scrollY;
 more.insertAdjacentHTML('afterend',html);first=a;
 window.scrollTo(0,y+root.scrollHeight-h);
 var e=entries(),n=e.length-keep;
 for(var i=0;i<n;++i)e[e.length-1-i].remove();
 if(n>0)last-=n;
});}
function down(){var b=Math.min(total,last+page);get(last,b,function(html){
 list.insertAdjacentHTML('beforeend',html);last=b;
 var e=entries(),n=e.length-keep;
 if(n>0){var h=root.scrollHeight,y=window.scrollY;
  for(var i=0;i<n;++i)e[i].remove();
  first+=n;window.scrollTo(0,y-(h-root.scrollHeight));}
});}
function check(){
 if(busy||failed)return;
 if(window.scrollY<margin&&first>0)up();
 else if(window.scrollY+window.innerHeight>root.scrollHeight-margin&&last<total)down();
}
window.addEventListener('scroll',check);
window.addEventListener('load',function(){mark();window.scrollTo(0,root.scrollHeight);check();});
})();
)");
    // One pass: no substituted text is read for place markers again.
    return script.arg(QString::number(view.first), QString::number(view.total),
                      jsString(view.rangeUrl), jsString(view.entrySelector),
                      QString::number(view.page), QString::number(view.keep));
}
